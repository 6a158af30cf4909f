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

std::string_view DomainOf(std::string_view address) {
  const std::size_t at = address.rfind('@');
  return at == std::string_view::npos ? std::string_view() : address.substr(at + 1);
}

}  // namespace corvane::mail
