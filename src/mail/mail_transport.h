// One way of delivering composed messages: SMTP (smtp_transport.h) or a pickup folder
// (pickup_transport.h). The component keeps one per server text for the whole run.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "mail/message_composer.h"
#include "mail/outgoing_message.h"

namespace corvane::mail {

struct Envelope {
  std::string from;                     // MAIL FROM (RFC 5321 §4.1.1.2)
  std::vector<std::string> recipients;  // one RCPT TO each, Bcc included
};

struct DeliveryOptions {
  std::chrono::seconds time_limit{60};  // the whole delivery, connecting included
  bool opportunistic_tls = true;        // the second Boolean setting
};

class MailTransport {
 public:
  virtual ~MailTransport() = default;

  // Whether the composed message carries its Bcc recipients in a header.
  virtual BccHeader bcc_header() const = 0;

  // Delivers `message` to every envelope recipient. Returns the server's final reply code
  // (250), or 0 where no server replies. Any refusal or fault is an Error of kind kMail.
  virtual long Deliver(const Envelope& envelope, const ComposedMessage& message,
                       const DeliveryOptions& options) = 0;
};

}  // namespace corvane::mail
