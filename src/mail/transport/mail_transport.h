// One way of delivering composed messages: SMTP (smtp_transport.h) or a pickup folder
// (pickup_transport.h). The component keeps one per server text for the whole run.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/wait_watch.h"
#include "mail/compose/message_composer.h"
#include "mail/compose/outgoing_message.h"
#include "mail/mail_message.h"

namespace corvane::mail {

// Settings of the transports that are not part of a message.
struct MailOptions {
  // Extra CA certificates (PEM) to verify smtp:// and smtps:// servers with instead of the
  // system store: for tests and private CAs. Empty: the system store.
  std::filesystem::path ca_file;
  // Longest wait for a connection (TCP and TLS handshake); the send's time limit caps it.
  std::chrono::seconds connect_timeout{10};
  // Longest wait for the reply to QUIT. Every message was answered by then, so an unanswered
  // QUIT changes nothing: the connection is simply closed.
  std::chrono::seconds quit_timeout{3};
  // The program's own watch on every wait (base/wait_watch.h), if any: it holds each delivery
  // to its time limit even where the library could not.
  WaitWatch* watch = nullptr;

  // ca_file from CORVANE_MAIL_CA_FILE when that is set and not empty.
  static MailOptions FromEnvironment();
};

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

  // What the last delivery ended with: the server's final reply, or the file it wrote.
  virtual std::string last_reply() const = 0;
  // After a delivery that failed: what the server said (empty where no server replied) and
  // whether it refused the message for good (MailComponent::last_delivery).
  virtual DeliveryReport last_failure() const { return {}; }

  // Goes through everything a delivery of each envelope needs short of the message itself, and
  // sends and writes nothing: for a server, connecting, its greeting, EHLO, STARTTLS where the
  // form asks for it, AUTH, then MAIL FROM and RCPT TO each recipient followed by RSET, and QUIT;
  // for a pickup folder, that it is there and can be written. Returns what it found, on one
  // line. Any refusal or fault is an Error of kind kMail.
  virtual std::string Check(const std::vector<Envelope>& envelopes,
                            const DeliveryOptions& options) = 0;
};

}  // namespace corvane::mail
