#include "mail/mail_error.h"

#include <cstdio>

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

void ThrowMailFailure(long number, std::string description) {
  throw Error(ErrorKind::kMail, number, std::move(description));
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20 || b > 0x7E) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(b));
      out += escape;
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

}  // namespace corvane::mail
