// How the mail component fails: always with corvane::Error of kind kMail.
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"
#include "base/one_line.h"  // Quoted: how refused input and a server's reply are shown

namespace corvane::mail {

// Input the component will not use (an address that is not a mailbox, a header text with a
// line break, an unknown server form): number 5, "Invalid procedure call or argument".
// `what` names the input ("recipient address"), `why` says what is wrong with it.
[[noreturn]] void ThrowRefused(std::string_view what, std::string_view why);

// A failed delivery; `code` is libcurl's (CurlCode) or the system's (ForeignCode::System),
// `description` carries the native message and the server's reply.
[[noreturn]] void ThrowMailFailure(ForeignCode code, std::string description);

// libcurl's code as the report shows it: "curl 7".
ForeignCode CurlCode(long code);

}  // namespace corvane::mail
