// The real mail component: composes each message itself and delivers it over SMTP (libcurl)
// or into a pickup folder, as the server text says (docs/mail-servers.md). Made once per run;
// its messages must not outlive it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "mail/compose/outgoing_message.h"
#include "mail/mail_message.h"
#include "mail/transport/curl_handle.h"
#include "mail/transport/transport_registry.h"

namespace corvane::mail {

// One message of the component: collects what SendMsg sets, checks each text as it arrives,
// and on Send composes the message and hands it to the transport for the server.
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

class DeliveringMailComponent final : public MailComponent {
 public:
  // `program_folder` anchors relative pickup folders. Fails with kMail when libcurl cannot
  // initialise.
  explicit DeliveringMailComponent(std::filesystem::path program_folder,
                                   MailOptions options = MailOptions::FromEnvironment());
  DeliveringMailComponent(const DeliveringMailComponent&) = delete;
  DeliveringMailComponent& operator=(const DeliveringMailComponent&) = delete;

  std::unique_ptr<MailMessage> Create() override;
  DeliveryReport last_delivery() const override { return transports_.last_delivery(); }

  // Operator commands. A dry run: from now on messages are shown on `out`, never delivered.
  void PreviewInstead(const Output& out) { transports_.PreviewInstead(out); }
  // What the last message's delivery ended with: the server's reply, or the file written.
  const std::string& last_reply() const { return transports_.last_reply(); }
  // Whether `server` would take mail from each envelope's sender to its recipients, sending
  // nothing (MailTransport::Check). Addresses are checked as for a message first.
  std::string CheckServer(std::string_view server, const std::vector<Envelope>& envelopes);

 private:
  CurlGlobal curl_;  // first in, last out: the transports' handles go before it
  TransportRegistry transports_;
};

}  // namespace corvane::mail
