#include "mail/compose/address_check.h"

#include <optional>
#include <string>

#include "base/ascii.h"
#include "mail/compose/header_encoding.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

constexpr std::size_t kMaxLocalPart = 64;
constexpr std::size_t kMaxAddress = 254;
constexpr std::size_t kMaxLabel = 63;

bool IsDotAtom(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  char previous = '\0';
  for (const char c : text) {
    if (c == '.' ? previous == '.' : !IsAtext(c)) return false;
    previous = c;
  }
  return true;
}

// A quoted string whose content needs no quoted-pairs and cannot confuse an SMTP path.
bool IsSimpleQuotedString(std::string_view text) {
  if (text.size() < 3 || text.front() != '"' || text.back() != '"') return false;
  for (const char c : text.substr(1, text.size() - 2)) {
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\' || c == '@' || c == '<' || c == '>') {
      return false;
    }
  }
  return true;
}

bool IsHostName(std::string_view domain) {
  if (domain.empty()) return false;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = domain.find('.', start);
    const std::string_view label =
        domain.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (label.empty() || label.size() > kMaxLabel || label.front() == '-' || label.back() == '-') {
      return false;
    }
    for (const char c : label) {
      if (!IsAsciiAlnum(c) && c != '-') return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

void CheckHeaderText(std::string_view text, std::string_view what) {
  if (text.find_first_of("\r\n") != std::string_view::npos) {
    ThrowRefused(what, Quoted(text) + " contains a line break");
  }
  if (text.find('\0') != std::string_view::npos) {
    ThrowRefused(what, Quoted(text) + " contains a NUL character");
  }
}

void CheckMailbox(std::string_view address, std::string_view what) {
  CheckHeaderText(address, what);
  if (address.empty()) ThrowRefused(what, "is empty; an e-mail address (local@domain) is needed");
  if (address.size() > kMaxAddress) ThrowRefused(what, Quoted(address) + " is too long");
  const std::size_t at = address.rfind('@');
  const std::string_view local = at == std::string_view::npos ? address : address.substr(0, at);
  const bool local_ok =
      local.size() <= kMaxLocalPart && (IsDotAtom(local) || IsSimpleQuotedString(local));
  if (at == std::string_view::npos || !local_ok || !IsHostName(address.substr(at + 1))) {
    ThrowRefused(what, Quoted(address) + " is not a single mailbox (local@domain)");
  }
}

namespace {

// The one reader of an address list. An entry is a bare address, or a display name (a quoted
// string, or an unquoted phrase) followed by "<address>"; entries are separated by ',' or ';'
// outside quoted strings and angle brackets. A quoted string ends at its first unescaped '"' and
// may hold ',', ';', '<' and '>', but no line break or NUL.
class ListReader {
 public:
  ListReader(std::string_view text, std::string_view what) : text_(text), what_(what) {}

  bool AtEnd() const { return pos_ >= text_.size(); }

  // The next entry, or nullopt for an empty one; leaves the reader after its separator.
  std::optional<Mailbox> Next() {
    SkipBlanks();
    const std::size_t start = pos_;
    std::string quoted;  // the entry's leading quoted string, its quotes and escapes undone
    std::size_t quoted_end = start;
    while (!AtEnd() && !IsSeparator(Peek()) && Peek() != '<') {
      if (Peek() != '"') {
        ++pos_;
      } else if (pos_ == start) {
        quoted = QuotedString();
        quoted_end = pos_;
      } else {
        QuotedString();
      }
    }
    const std::string_view written = TrimBlanks(text_.substr(start, pos_ - start));
    if (Peek() != '<') {  // a bare address, a quoted local part ("a b"@x.example) included
      SkipSeparator();
      if (written.empty()) return std::nullopt;
      return Mailbox{"", std::string(written)};
    }
    Mailbox mailbox;
    if (quoted_end > start && quoted_end == start + written.size()) {
      mailbox.name = std::move(quoted);
    } else {
      CheckPhrase(written, start);
      mailbox.name = std::string(written);
    }
    const std::size_t close = text_.find('>', pos_);
    if (close == std::string_view::npos) Refuse(start, "has a '<' without its '>'");
    mailbox.address = std::string(TrimBlanks(text_.substr(pos_ + 1, close - pos_ - 1)));
    pos_ = close + 1;
    SkipBlanks();
    if (!AtEnd() && !IsSeparator(Peek())) Refuse(start, "is not a mailbox (Name <local@domain>)");
    SkipSeparator();
    return mailbox;
  }

 private:
  static bool IsSeparator(char c) { return c == ',' || c == ';'; }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(text_[pos_])) ++pos_;
  }
  void SkipSeparator() {
    if (!AtEnd()) ++pos_;
  }

  [[noreturn]] void Refuse(std::size_t start, std::string_view why) const {
    std::size_t end = text_.find_first_of(",;", pos_);
    if (end == std::string_view::npos) end = text_.size();
    ThrowRefused(what_,
                 Quoted(TrimBlanks(text_.substr(start, end - start))) + " " + std::string(why));
  }

  // The quoted string at the reader, without its quotes and escapes; the reader after it.
  std::string QuotedString() {
    const std::size_t start = pos_++;
    std::string out;
    while (!AtEnd() && Peek() != '"') {
      if (Peek() == '\\' && pos_ + 1 < text_.size()) ++pos_;
      const char c = text_[pos_++];
      // A line break would end the header line it goes into (RFC 5322 §2.2).
      if (c == '\r' || c == '\n' || c == '\0') Refuse(start, "has a line break or NUL in quotes");
      out += c;
    }
    if (AtEnd()) Refuse(start, "has a quoted name that does not end");
    ++pos_;
    return out;
  }

  // Unquoted, a name is a phrase (RFC 5322 §3.2.5): words of atext, blanks and dots; letters
  // beyond ASCII are taken as people write them. Specials such as '@' or ':' need quotes.
  void CheckPhrase(std::string_view name, std::size_t start) const {
    for (const char c : name) {
      const bool word = IsAtext(c) || c == ' ' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
      if (!word) Refuse(start, "is not a mailbox (Name <local@domain>)");
    }
  }

  std::string_view text_;
  std::string_view what_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<Mailbox> ParseMailboxList(std::string_view text, std::string_view what) {
  CheckHeaderText(text, what);
  std::vector<Mailbox> mailboxes;
  ListReader reader(text, what);
  while (!reader.AtEnd()) {
    std::optional<Mailbox> mailbox = reader.Next();
    if (!mailbox) continue;
    CheckMailbox(mailbox->address, what);
    mailboxes.push_back(std::move(*mailbox));
    if (mailboxes.size() > kMaxMailboxes) {
      ThrowRefused(what, "names more than " + std::to_string(kMaxMailboxes) + " mailboxes");
    }
  }
  if (mailboxes.empty()) {
    ThrowRefused(what,
                 Quoted(text) + " names no mailbox; an e-mail address (local@domain) is needed");
  }
  return mailboxes;
}

bool SameMailbox(std::string_view a, std::string_view b) {
  // The local part is the receiving domain's to read (RFC 5321 §2.4); domains ignore case.
  const std::size_t at_a = a.rfind('@');
  const std::size_t at_b = b.rfind('@');
  return at_a == at_b && a.substr(0, at_a) == b.substr(0, at_b) &&
         EqualsNoCase(a.substr(at_a), b.substr(at_b));
}

std::string_view DomainOf(std::string_view address) {
  const std::size_t at = address.rfind('@');
  return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

}  // namespace corvane::mail
