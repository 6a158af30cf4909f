#include "mail/delivering_component.h"

#include "mail/delivering_message.h"

namespace corvane::mail {

DeliveringMailComponent::DeliveringMailComponent(std::filesystem::path program_folder,
                                                 MailOptions options)
    : transports_(std::move(program_folder), std::move(options)) {}

std::unique_ptr<MailMessage> DeliveringMailComponent::Create() {
  return std::make_unique<DeliveringMailMessage>(transports_);
}

}  // namespace corvane::mail
