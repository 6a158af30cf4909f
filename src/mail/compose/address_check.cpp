#include "mail/compose/address_check.h"

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

// The entries of a list: split at ',' and ';' outside quoted strings and angle brackets.
std::vector<std::string_view> SplitEntries(std::string_view text, std::string_view what) {
  std::vector<std::string_view> entries;
  bool quoted = false;
  bool angle = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '<') {
      angle = true;
    } else if (c == '>') {
      angle = false;
    } else if ((c == ',' || c == ';') && !angle) {
      entries.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (quoted) ThrowRefused(what, Quoted(text) + " has a quoted name that does not end");
  entries.push_back(text.substr(start));
  return entries;
}

// A display name as written before "<address>": a quoted string loses its quotes and escapes.
std::string DisplayName(std::string_view written, std::string_view entry, std::string_view what) {
  written = TrimBlanks(written);
  if (written.size() >= 2 && written.front() == '"' && written.back() == '"') {
    std::string name;
    for (std::size_t i = 1; i + 1 < written.size(); ++i) {
      if (written[i] == '\\' && i + 2 < written.size()) ++i;
      name += written[i];
    }
    return name;
  }
  // Unquoted, a name is a phrase (RFC 5322 §3.2.5): words of atext, blanks and dots; letters
  // beyond ASCII are taken as people write them. Specials such as '@' or ':' need quotes.
  for (const char c : written) {
    const bool word = IsAtext(c) || c == ' ' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
    if (!word) ThrowRefused(what, Quoted(entry) + " is not a mailbox (Name <local@domain>)");
  }
  return std::string(written);
}

}  // namespace

std::vector<Mailbox> ParseMailboxList(std::string_view text, std::string_view what) {
  CheckHeaderText(text, what);
  std::vector<Mailbox> mailboxes;
  for (std::string_view entry : SplitEntries(text, what)) {
    entry = TrimBlanks(entry);
    if (entry.empty()) continue;
    Mailbox mailbox;
    const std::size_t open = entry.rfind('<');
    if (open != std::string_view::npos && entry.back() == '>' &&
        entry.find('>') == entry.size() - 1) {
      mailbox.name = DisplayName(entry.substr(0, open), entry, what);
      mailbox.address = std::string(TrimBlanks(entry.substr(open + 1, entry.size() - open - 2)));
    } else {
      mailbox.address = std::string(entry);
    }
    CheckMailbox(mailbox.address, what);
    mailboxes.push_back(std::move(mailbox));
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

std::string_view DomainOf(std::string_view address) {
  const std::size_t at = address.rfind('@');
  return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

}  // namespace corvane::mail
