// How the mail component fails: always with corvane::Error of kind kMail.
#pragma once

#include <string>
#include <string_view>

namespace corvane::mail {

// Input the component will not use (an address that is not a mailbox, a header text with a
// line break, an unknown server form): number 5, "Invalid procedure call or argument".
// `what` names the input ("recipient address"), `why` says what is wrong with it.
[[noreturn]] void ThrowRefused(std::string_view what, std::string_view why);

// A failed delivery; `number` is the native code (curl code, errno), `description` carries the
// native message and the server's reply.
[[noreturn]] void ThrowMailFailure(long number, std::string description);

// `text` in double quotes with control characters and bytes above 0x7E shown as escapes, so
// an error report never carries a raw line break from refused input.
std::string Quoted(std::string_view text);

}  // namespace corvane::mail
