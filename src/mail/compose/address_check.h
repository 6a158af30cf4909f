// Checks on what goes into a header or an SMTP command. Unsafe input is refused, never
// repaired: a refused text is an Error before any header or command is built from it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::mail {

// Fails (ThrowRefused) unless `address` is one bare address (RFC 5322 §3.4.1), kept strict:
// local@domain; the local part a dot-atom or a quoted string of printable ASCII without
// backslash, '@' or angle brackets; the domain host-name labels (letters, digits, hyphens);
// ASCII only; at most 64 octets before the '@' and 254 in all (RFC 5321 §4.5.3.1). An empty
// text is not a mailbox. `what` names the address in the error ("sender address").
void CheckMailbox(std::string_view address, std::string_view what);

struct Mailbox {
  std::string name;  // display name; empty: none
  std::string address;
};

// The most mailboxes one address text may name (RFC 5321 §4.5.3.1.8: 100 recipients).
inline constexpr std::size_t kMaxMailboxes = 100;

// Reads an address text as people type it: one or more mailboxes separated by ',' or ';', each
// a bare address or "Name <address>" (RFC 5322 §3.4). The name may be a quoted string, which
// ends at its first unescaped '"' and may hold ',', ';', '<' and '>' but no line break or NUL.
// Blanks around each entry are dropped and empty entries skipped. Every address must pass
// CheckMailbox; the whole text must be free of CR, LF and NUL. Fails (ThrowRefused) for anything
// else, and for a text that names no mailbox or too many, so a list with one bad entry is
// refused whole.
std::vector<Mailbox> ParseMailboxList(std::string_view text, std::string_view what);

// True when two addresses that passed CheckMailbox name one mailbox: the same local part and
// the same domain, its letter case aside.
bool SameMailbox(std::string_view a, std::string_view b);

// Fails unless `text` is free of CR, LF and NUL: a display name or subject must not be able
// to end its header line (RFC 5322 §2.2) or start an SMTP command.
void CheckHeaderText(std::string_view text, std::string_view what);

// The part after the '@' of an address that passed CheckMailbox.
std::string_view DomainOf(std::string_view address);

}  // namespace corvane::mail
