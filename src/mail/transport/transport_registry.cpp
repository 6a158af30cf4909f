#include "mail/transport/transport_registry.h"

#include <cstdlib>

#include "mail/transport/pickup_transport.h"
#include "mail/transport/server_address.h"
#include "mail/transport/smtp_transport.h"

namespace corvane::mail {

MailOptions MailOptions::FromEnvironment() {
  MailOptions options;
  const char* ca_file = std::getenv("CORVANE_MAIL_CA_FILE");
  if (ca_file != nullptr && *ca_file != '\0') options.ca_file = ca_file;
  return options;
}

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
