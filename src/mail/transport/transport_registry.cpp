#include "mail/transport/transport_registry.h"

#include <cerrno>
#include <cstdlib>

#include "mail/compose/readable_message.h"
#include "mail/mail_error.h"
#include "mail/transport/pickup_transport.h"
#include "mail/transport/server_address.h"
#include "mail/transport/smtp_transport.h"

namespace corvane::mail {

namespace {

// A dry run's transport: shows each message as the real transport would hand it over.
class PreviewTransport final : public MailTransport {
 public:
  PreviewTransport(const Output& out, BccHeader bcc, int& counter)
      : out_(out), bcc_(bcc), counter_(counter) {}

  BccHeader bcc_header() const override { return bcc_; }

  long Deliver(const Envelope& envelope, const ComposedMessage& message,
               const DeliveryOptions&) override {
    std::string text =
        "== message " + std::to_string(++counter_) + ": MAIL FROM:<" + envelope.from + ">";
    for (const std::string& recipient : envelope.recipients) text += " RCPT TO:<" + recipient + ">";
    // SendMsg always asks for 7-bit, which every server takes; shown decoded, as read.
    text += " ==\n" + ReadableMessage(message.seven_bit);
    if (!out_.Write(text)) {
      ThrowMailFailure(ForeignCode::System(errno), "the preview could not be written");
    }
    last_reply_ = "previewed as message " + std::to_string(counter_);
    return 0;
  }
  std::string last_reply() const override { return last_reply_; }
  std::string Check(const std::vector<Envelope>&, const DeliveryOptions&) override {
    return "preview only";
  }

 private:
  const Output& out_;
  BccHeader bcc_;
  int& counter_;
  std::string last_reply_;
};

}  // namespace

MailOptions MailOptions::FromEnvironment() {
  MailOptions options;
  const char* ca_file = std::getenv("CORVANE_MAIL_CA_FILE");
  if (ca_file != nullptr && *ca_file != '\0') options.ca_file = ca_file;
  return options;
}

TransportRegistry::TransportRegistry(std::filesystem::path program_folder, MailOptions options)
    : program_folder_(std::move(program_folder)), options_(std::move(options)) {}

DeliveryReport TransportRegistry::last_delivery() const {
  if (delivering_ == nullptr) return {};
  if (delivered_) return {last_reply_, false};
  return delivering_->last_failure();
}

MailTransport& TransportRegistry::For(std::string_view server_text) {
  if (const auto found = transports_.find(server_text); found != transports_.end()) {
    return *found->second;
  }
  ServerAddress server = ParseServerAddress(server_text, program_folder_);
  std::unique_ptr<MailTransport> transport;
  if (preview_ != nullptr) {
    const BccHeader bcc = server.kind == ServerKind::kPickup ? BccHeader::kWrite : BccHeader::kOmit;
    transport = std::make_unique<PreviewTransport>(*preview_, bcc, previewed_);
  } else if (server.kind == ServerKind::kPickup) {
    transport = std::make_unique<PickupTransport>(server.folder, tokens_, options_.watch);
  } else {
    transport = std::make_unique<SmtpTransport>(std::move(server), options_);
  }
  MailTransport& kept = *transport;
  transports_.emplace(std::string(server_text), std::move(transport));
  return kept;
}

}  // namespace corvane::mail
