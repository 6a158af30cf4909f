// A composed message as its reader will see it, for an operator's preview of what a run would
// send: the wire form decoded, so that what is shown cannot drift from what goes out.
#pragma once

#include <string>
#include <string_view>

namespace corvane::mail {

// `composed` (a message as ComposeMessage makes it, CR LF line breaks) as a mail program shows
// it: the headers a reader sees (Date, From, To, Cc, Bcc, Subject), unfolded (RFC 5322 §2.2.3)
// and with their UTF-8 encoded words decoded (RFC 2047), a blank line, then the body with its
// quoted-printable encoding undone (RFC 2045 §6.7). Line breaks become LF; other control
// characters are shown as text from outside is (base/one_line.h), so that text from the database
// cannot steer a terminal.
std::string ReadableMessage(std::string_view composed);

}  // namespace corvane::mail
