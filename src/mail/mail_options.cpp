#include "mail/mail_options.h"

#include <cstdlib>

namespace corvane::mail {

MailOptions MailOptions::FromEnvironment() {
  MailOptions options;
  const char* ca_file = std::getenv("CORVANE_MAIL_CA_FILE");
  if (ca_file != nullptr && *ca_file != '\0') options.ca_file = ca_file;
  return options;
}

}  // namespace corvane::mail
