#include "mail/mail_error.h"

#include "base/error.h"

namespace corvane::mail {

void ThrowRefused(std::string_view what, std::string_view why) {
  std::string text = "Invalid procedure call or argument (mail: ";
  text.append(what);
  text += ' ';
  text.append(why);
  text += ')';
  throw Error(ErrorKind::kMail, errnum::kInvalidProcedureCall, std::move(text));
}

void ThrowMailFailure(ForeignCode code, std::string description) {
  throw Error(ErrorKind::kMail, std::move(code), std::move(description));
}

ForeignCode CurlCode(long code) {
  return ForeignCode::Of("curl", code);
}

}  // namespace corvane::mail
