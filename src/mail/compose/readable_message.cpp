#include "mail/compose/readable_message.h"

#include <optional>

#include "base/ascii.h"
#include "base/one_line.h"

namespace corvane::mail {

namespace {

constexpr std::string_view kShownHeaders[] = {"Date", "From", "To", "Cc", "Bcc", "Subject"};

// "=XX" at `at`, as the byte it stands for.
std::optional<char> EscapedByte(std::string_view text, std::size_t at) {
  if (at + 2 >= text.size() || text[at] != '=') return std::nullopt;
  const int high = HexDigitValue(text[at + 1]);
  const int low = HexDigitValue(text[at + 2]);
  if (high < 0 || low < 0) return std::nullopt;
  return static_cast<char>(high * 16 + low);
}

// The text of one encoded word "=?utf-8?q?...?=" (RFC 2047 §4.2: '_' is a blank); nullopt for
// anything else, which is then shown as written.
std::optional<std::string> DecodeWord(std::string_view word) {
  if (!word.starts_with("=?") || !word.ends_with("?=")) return std::nullopt;
  const std::string_view inner = word.substr(2, word.size() - 4);
  const std::size_t first = inner.find('?');
  const std::size_t second = first == std::string_view::npos ? first : inner.find('?', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view charset = inner.substr(0, first);
  const std::string_view encoding = inner.substr(first + 1, second - first - 1);
  if (!(EqualsNoCase(charset, "utf-8") || EqualsNoCase(charset, "us-ascii")) ||
      !EqualsNoCase(encoding, "q")) {
    return std::nullopt;
  }
  const std::string_view text = inner.substr(second + 1);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (const auto byte = EscapedByte(text, i)) {
      out += *byte;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A header value with its encoded words decoded; blanks between two encoded words go (§6.2).
std::string DecodeHeaderValue(std::string_view value) {
  std::string out;
  bool after_word = false;
  std::string pending_blanks;
  std::size_t i = 0;
  while (i < value.size()) {
    if (IsBlank(value[i])) {
      pending_blanks += value[i++];
      continue;
    }
    std::size_t end = i;
    while (end < value.size() && !IsBlank(value[end])) ++end;
    const std::string_view token = value.substr(i, end - i);
    const std::optional<std::string> decoded = DecodeWord(token);
    if (!(decoded && after_word)) out += pending_blanks;
    pending_blanks.clear();
    out += decoded ? *decoded : std::string(token);
    after_word = decoded.has_value();
    i = end;
  }
  return out + pending_blanks;
}

std::string DecodeQuotedPrintable(std::string_view body) {
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body.substr(i, 3) == "=\r\n") {
      i += 2;  // a soft line break
    } else if (const auto byte = EscapedByte(body, i)) {
      out += *byte;
      i += 2;
    } else {
      out += body[i];
    }
  }
  return out;
}

// Each line shown as text from outside is shown (base/one_line.h), tabs kept; LF line ends.
std::string ForTerminal(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    out += OneLineText(line, Tabs::kKeep);
    if (end == std::string_view::npos) break;
    out += '\n';
    text.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace

std::string ReadableMessage(std::string_view composed) {
  const std::size_t split = composed.find("\r\n\r\n");
  const std::string_view head = composed.substr(0, split);
  const std::string_view body =
      split == std::string_view::npos ? std::string_view() : composed.substr(split + 4);

  std::string shown;
  bool quoted_printable = false;
  std::size_t at = 0;
  while (at < head.size()) {
    // One field: its first line and the folded lines after it.
    std::string field;
    while (true) {
      const std::size_t end = head.find("\r\n", at);
      field += head.substr(at, end == std::string_view::npos ? end : end - at);
      at = end == std::string_view::npos ? head.size() : end + 2;
      if (at >= head.size() || !IsBlank(head[at])) break;
    }
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos) continue;
    const std::string_view name = std::string_view(field).substr(0, colon);
    const std::string_view value = TrimBlanks(std::string_view(field).substr(colon + 1));
    if (EqualsNoCase(name, "Content-Transfer-Encoding")) {
      quoted_printable = EqualsNoCase(value, "quoted-printable");
    }
    for (const std::string_view wanted : kShownHeaders) {
      if (EqualsNoCase(name, wanted)) {
        shown += std::string(wanted) + ": " + ForTerminal(DecodeHeaderValue(value)) + "\n";
      }
    }
  }
  shown += "\n";
  shown += ForTerminal(quoted_printable ? DecodeQuotedPrintable(body) : std::string(body));
  if (!shown.ends_with('\n')) shown += '\n';
  return shown;
}

}  // namespace corvane::mail
