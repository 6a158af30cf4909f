#include "mail/compose/header_encoding.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/utf8.h"

namespace corvane::mail {

namespace {

constexpr std::string_view kWordStart = "=?utf-8?q?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::size_t kMaxEncodedWord = 75;  // RFC 2047 §2
constexpr std::size_t kMaxPlainWord = 60;    // longer words could not be folded in time
constexpr std::size_t kMaxQuotedName = 60;
constexpr char kHex[] = "0123456789ABCDEF";

// Words of printable ASCII, each at most kMaxPlainWord long and accepted by `allowed`, joined
// by single blanks, with no "=?" that a reader would take for an encoded word.
template <typename Allowed>
bool IsPlainWords(std::string_view text, Allowed allowed) {
  if (text.empty() || text.front() == ' ' || text.back() == ' ') return false;
  if (text.find("=?") != std::string_view::npos || text.find("  ") != std::string_view::npos) {
    return false;
  }
  std::size_t word = 0;
  for (const char c : text) {
    if (c == ' ') {
      word = 0;
      continue;
    }
    if (!allowed(c) || ++word > kMaxPlainWord) return false;
  }
  return true;
}

HeaderTokens SplitWords(std::string_view text) {
  HeaderTokens words;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t blank = std::min(text.find(' ', start), text.size());
    words.emplace_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  return words;
}

// Printable ASCII that a quoted string can hold (RFC 5322 §3.2.4), blanks included.
bool IsQuotable(std::string_view text) {
  return text.size() <= kMaxQuotedName && text.find("=?") == std::string_view::npos &&
         std::all_of(text.begin(), text.end(), IsAsciiPrintable);
}

std::string QuotedString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

void AppendQ(std::string& out, unsigned char b) {
  if (b == ' ') {
    out += '_';
  } else if (IsAsciiAlnum(static_cast<char>(b)) || b == '!' || b == '*' || b == '+' || b == '-' ||
             b == '/') {
    out += static_cast<char>(b);
  } else {
    out += '=';
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
}

}  // namespace

bool IsAtext(char c) {
  return IsAsciiAlnum(c) ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

std::string FoldHeader(std::string_view name, const HeaderTokens& tokens) {
  std::string out(name);
  out += ':';
  std::size_t line = out.size();
  bool first = true;
  for (const std::string& token : tokens) {
    if (!first && line + 1 + token.size() > kHeaderLineLimit) {
      out += "\r\n";
      line = 0;
    }
    out += ' ';
    out += token;
    line += 1 + token.size();
    first = false;
  }
  out += "\r\n";
  return out;
}

HeaderTokens EncodedWords(std::string_view text, std::size_t first_limit) {
  const std::size_t overhead = kWordStart.size() + kWordEnd.size();
  HeaderTokens words;
  std::string word(kWordStart);
  std::size_t limit = std::clamp(first_limit, overhead + 12, kMaxEncodedWord);
  std::size_t i = 0;
  while (i < text.size()) {
    // A word holds whole characters; a broken sequence goes byte by byte, so it cannot stall.
    char32_t c = 0;
    const std::size_t length = std::max<std::size_t>(DecodeUtf8(text, i, c), 1);
    std::string encoded;
    for (std::size_t k = 0; k < length; ++k) {
      AppendQ(encoded, static_cast<unsigned char>(text[i + k]));
    }
    if (word.size() + encoded.size() + kWordEnd.size() > limit && word.size() > kWordStart.size()) {
      word += kWordEnd;
      words.push_back(std::move(word));
      word = std::string(kWordStart);
      limit = kMaxEncodedWord;
    }
    word += encoded;
    i += length;
  }
  word += kWordEnd;
  words.push_back(std::move(word));
  return words;
}

HeaderTokens UnstructuredTokens(std::string_view text, std::string_view header_name) {
  if (text.empty()) return {};
  const auto printable = [](char c) { return c > 0x20 && c < 0x7F; };
  if (IsPlainWords(text, printable)) return SplitWords(text);
  return EncodedWords(text, kHeaderLineLimit - header_name.size() - 2);
}

HeaderTokens MailboxTokens(std::string_view display_name, std::string_view address,
                           std::string_view header_name) {
  if (display_name.empty()) return {std::string(address)};
  HeaderTokens tokens;
  if (IsPlainWords(display_name, IsAtext)) {
    tokens = SplitWords(display_name);
  } else if (IsQuotable(display_name)) {
    tokens.push_back(QuotedString(display_name));
  } else {
    tokens = EncodedWords(display_name, kHeaderLineLimit - header_name.size() - 2);
  }
  std::string angle_addr = "<";  // built by appends: GCC 12 warns falsely on "<" + std::string
  angle_addr.append(address).append(">");
  tokens.push_back(std::move(angle_addr));
  return tokens;
}

}  // namespace corvane::mail
