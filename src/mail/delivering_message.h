// One message of the delivering component: collects what SendMsg sets, checks each text as it
// arrives, and on Send composes the message and hands it to the transport for the server.
#pragma once

#include "mail/mail_message.h"
#include "mail/outgoing_message.h"
#include "mail/transport_registry.h"

namespace corvane::mail {

class DeliveringMailMessage final : public MailMessage {
 public:
  // `transports` belongs to the component and must outlive the message.
  explicit DeliveringMailMessage(TransportRegistry& transports) : transports_(transports) {}

  void SetSevenBit(bool on) override { message_.seven_bit = on; }
  void SetOpportunisticTls(bool on) override { opportunistic_tls_ = on; }
  // Each setter fails (kMail, number 5) for an address that is not one mailbox, or a name or
  // subject holding CR, LF or NUL; text that is not UTF-8 is taken as Windows-1252.
  void SetFromAddress(std::string_view address) override;
  void SetFromName(std::string_view name) override;
  void AddRecipient(std::string_view address, const PlainArg& name, const PlainArg& kind) override;
  void SetSubject(std::string_view subject) override;
  void SetBody(std::string_view body) override;
  // Fails without connecting when no sender or recipient was set, or the time limit or the
  // server text is not usable.
  long Send(std::string_view server, const PlainArg& time_limit) override;

 private:
  TransportRegistry& transports_;
  OutgoingMessage message_;
  bool opportunistic_tls_ = true;
};

}  // namespace corvane::mail
