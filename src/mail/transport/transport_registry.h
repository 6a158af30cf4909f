// The transports of one component, one per server text, made on first use and kept for the
// run so that every message to the same server goes over the same connection.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/output.h"
#include "mail/compose/message_stamp.h"
#include "mail/transport/mail_transport.h"

namespace corvane::mail {

class TransportRegistry {
 public:
  // `program_folder` anchors relative pickup folders.
  TransportRegistry(std::filesystem::path program_folder, MailOptions options);

  // The transport for `server_text` (server_address.h). Fails with kMail for a text that names
  // no usable server; such a text is not kept, so every message to it fails the same way.
  MailTransport& For(std::string_view server_text);

  // Names messages and pickup files.
  UniqueTokens& tokens() { return tokens_; }

  // From now on every server's transport writes each message to `out` instead of delivering
  // it: the envelope on a line "== message N: MAIL FROM:<...> RCPT TO:<...> ==", then the message
  // that would go to the server as its reader will see it (compose/readable_message.h). The
  // server text is still read and checked.
  void PreviewInstead(const Output& out) { preview_ = &out; }

  // What the last delivery through any of them ended with (MailTransport::last_reply).
  const std::string& last_reply() const { return last_reply_; }
  void NoteReply(std::string reply) {
    last_reply_ = std::move(reply);
    delivered_ = true;
  }

  // The delivery of the message being sent: none yet (ForgetDelivery, for a new message), under
  // way through `transport` (Delivering), or done (NoteReply). What it ended with, as
  // MailComponent::last_delivery gives it.
  void ForgetDelivery() { delivering_ = nullptr; }
  void Delivering(MailTransport& transport) {
    delivering_ = &transport;
    delivered_ = false;
  }
  DeliveryReport last_delivery() const;

 private:
  std::filesystem::path program_folder_;
  MailOptions options_;
  UniqueTokens tokens_;
  std::map<std::string, std::unique_ptr<MailTransport>, std::less<>> transports_;
  const Output* preview_ = nullptr;
  int previewed_ = 0;  // messages previewed so far, over all servers
  std::string last_reply_;
  MailTransport* delivering_ = nullptr;
  bool delivered_ = false;
};

}  // namespace corvane::mail
