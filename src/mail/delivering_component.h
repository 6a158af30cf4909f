// The real mail component: composes each message itself and delivers it over SMTP (libcurl)
// or into a pickup folder, as the server text says (docs/mail-servers.md). Made once per run;
// its messages must not outlive it.
#pragma once

#include <filesystem>
#include <memory>

#include "mail/curl_handle.h"
#include "mail/mail_message.h"
#include "mail/mail_options.h"
#include "mail/transport_registry.h"

namespace corvane::mail {

class DeliveringMailComponent final : public MailComponent {
 public:
  // `program_folder` anchors relative pickup folders. Fails with kMail when libcurl cannot
  // initialise.
  explicit DeliveringMailComponent(std::filesystem::path program_folder,
                                   MailOptions options = MailOptions::FromEnvironment());
  DeliveringMailComponent(const DeliveringMailComponent&) = delete;
  DeliveringMailComponent& operator=(const DeliveringMailComponent&) = delete;

  std::unique_ptr<MailMessage> Create() override;

 private:
  CurlGlobal curl_;  // first in, last out: the transports' handles go before it
  TransportRegistry transports_;
};

}  // namespace corvane::mail
