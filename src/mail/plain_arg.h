// The further arguments of adding a recipient and of sending, read from their PlainArg.
// Zero (0, 0.0, false or empty text) selects the default each time. SendMsg passes zero; the
// other forms stay because the boundary takes them, and --test-mail sets a time limit.
#pragma once

#include <chrono>
#include <string>

#include "mail/compose/outgoing_message.h"
#include "mail/mail_message.h"

namespace corvane::mail {

// Default and upper bound of a send's time limit.
inline constexpr std::chrono::seconds kDefaultTimeLimit{60};
inline constexpr std::chrono::seconds kMaxTimeLimit{3600};

// A recipient's display name: text as given; zero: none. Fails for any other number.
std::string DisplayNameArg(const PlainArg& arg);

// 0 or "To" (zero: To), 1 or "Cc", 2 or "Bcc" (text in any case). Fails otherwise.
RecipientKind RecipientKindArg(const PlainArg& arg);

// Whole seconds, 1 to kMaxTimeLimit, as a number or as digits; zero: kDefaultTimeLimit.
std::chrono::seconds TimeLimitArg(const PlainArg& arg);

}  // namespace corvane::mail
