// Any text as an address list: it is refused with the mail component's "invalid argument" error
// on one line, or gives 1 to 100 mailboxes, each address a single mailbox without a control
// character (nothing that could end an SMTP command or a header line) and each name free of line
// breaks and NUL.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "mail/compose/address_check.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace mail = corvane::mail;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<mail::Mailbox> mailboxes;
  try {
    mailboxes = mail::ParseMailboxList(text, "recipient address");
  } catch (const corvane::Error& error) {
    Require(error.kind() == corvane::ErrorKind::kMail &&
            error.number() == corvane::errnum::kInvalidProcedureCall);
    Require(error.description().find_first_of("\r\n") == std::string::npos);
    return 0;
  }
  Require(!mailboxes.empty() && mailboxes.size() <= mail::kMaxMailboxes);
  for (const mail::Mailbox& mailbox : mailboxes) {
    for (const char c : mailbox.address) {
      Require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
    Require(mailbox.name.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    mail::CheckMailbox(mailbox.address, "recipient address");  // throws: a fault, not a refusal
  }
  return 0;
}
