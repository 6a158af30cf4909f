#include "mail/transport_registry.h"

#include "mail/pickup_transport.h"
#include "mail/server_address.h"
#include "mail/smtp_transport.h"

namespace corvane::mail {

TransportRegistry::TransportRegistry(std::filesystem::path program_folder, MailOptions options)
    : program_folder_(std::move(program_folder)), options_(std::move(options)) {}

MailTransport& TransportRegistry::For(std::string_view server_text) {
  if (const auto found = transports_.find(server_text); found != transports_.end()) {
    return *found->second;
  }
  ServerAddress server = ParseServerAddress(server_text, program_folder_);
  std::unique_ptr<MailTransport> transport;
  if (server.kind == ServerKind::kPickup) {
    transport = std::make_unique<PickupTransport>(server.folder, tokens_);
  } else {
    transport = std::make_unique<SmtpTransport>(std::move(server), options_);
  }
  MailTransport& kept = *transport;
  transports_.emplace(std::string(server_text), std::move(transport));
  return kept;
}

}  // namespace corvane::mail
