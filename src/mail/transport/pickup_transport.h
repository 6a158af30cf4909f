// Delivery into a pickup folder: each message becomes one complete .eml file (CR LF line
// breaks, Bcc kept as a header), for the embedded default and for offline use. A file appears
// under its final name only when it is complete and on disk; a failed write leaves nothing.
#pragma once

#include <filesystem>

#include "mail/compose/message_stamp.h"
#include "mail/transport/mail_transport.h"

namespace corvane::mail {

class PickupTransport final : public MailTransport {
 public:
  // `folder` is made when it is missing. `tokens` names the files and must outlive this.
  // `watch` (if any) holds each delivery to its time limit.
  PickupTransport(std::filesystem::path folder, UniqueTokens& tokens, WaitWatch* watch = nullptr);

  BccHeader bcc_header() const override { return BccHeader::kWrite; }

  // Writes "<token>.eml": a temporary ".<token>.tmp" in the same folder, written, fsync'ed,
  // then renamed (never over an existing file) and the folder fsync'ed. Returns 0. Fails with
  // kMail and the errno when the folder cannot be made or written.
  long Deliver(const Envelope& envelope, const ComposedMessage& message,
               const DeliveryOptions& options) override;
  std::string last_reply() const override { return last_file_; }
  // The folder exists and a file can be made in it, or, where it is missing, the first message
  // could make it. Nothing is made here.
  std::string Check(const std::vector<Envelope>& envelopes,
                    const DeliveryOptions& options) override;

 private:
  std::filesystem::path folder_;
  UniqueTokens& tokens_;
  WaitWatch* watch_;
  std::string last_file_;  // "wrote <path>"
};

}  // namespace corvane::mail
