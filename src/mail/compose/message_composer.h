// Composes one text/plain message (RFC 5322 with the MIME headers of RFC 2045): Date, From,
// To, Cc, Subject, Message-ID, MIME-Version, Content-Type and Content-Transfer-Encoding.
#pragma once

#include <string>
#include <string_view>

#include "mail/compose/outgoing_message.h"

namespace corvane::mail {

struct MessageStamp {
  std::string date;        // Date header text (message_stamp.h)
  std::string message_id;  // "<left@domain>"
};

enum class BccHeader {
  kOmit,   // SMTP: Bcc recipients are only in the envelope
  kWrite,  // pickup file: kept in a Bcc header, as a later "sendmail -t" expects
};

// Headers are 7-bit (encoded words where needed) and folded. The body is quoted-printable,
// except that with `seven_bit` off a body that needs no encoding (every line within 998
// octets, no bare CR or LF, no NUL, ending with CR LF) goes as 7bit when it is ASCII, and
// otherwise is offered as 8bit in ComposedMessage::eight_bit as well.
ComposedMessage ComposeMessage(const OutgoingMessage& message, const MessageStamp& stamp,
                               BccHeader bcc);

// "<token@domain>" with the domain of the sender's address.
std::string MakeMessageId(std::string_view token, std::string_view from_address);

}  // namespace corvane::mail
