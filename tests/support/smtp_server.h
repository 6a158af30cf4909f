// SMTP servers for tests, on 127.0.0.1, started and stopped by the test:
//  - SmtpServer: aiosmtpd keeping every message byte for byte (smtp_capture.py), optionally
//    with STARTTLS, implicit TLS or AUTH, with a certificate made for the test by openssl. The
//    test binds the listening socket and hands it to the server process, so the port is
//    provably that server's;
//  - SmtpSink: postfix's smtp-sink, for its reject, delay and disconnect options; it binds a
//    port of the kernel's choice itself, and reports the one its own process listens on.
// Received messages come back decoded by Python's email package (mime_decode.py), so a test
// compares what a real MIME parser reads with what it sent.
//
// Typical use, in any test that sends mail:
//   CORVANE_REQUIRE_SERVICE(corvane::testing::SmtpServerAvailable());
//   corvane::testing::SmtpServer server;
//   ... send through server.host_port() ...
//   for (const ReceivedMessage& m : server.Messages()) { m.envelope_from, m.recipients,
//     m.from_name, m.from_address, m.to, m.subject, m.body ... }
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::testing {

// Whether a service a test needs is installed; `missing` says what is not.
struct ServiceCheck {
  bool ok = true;
  std::string missing;
};
ServiceCheck MimeParserAvailable();  // /usr/bin/python3 (its email package decodes)
ServiceCheck SmtpServerAvailable();  // /usr/bin/python3 with aiosmtpd, and openssl
ServiceCheck SmtpSinkAvailable();    // postfix's smtp-sink
// CORVANE_REQUIRE_SERVICES=1: a missing service fails the test instead of skipping it.
bool ServicesRequired();

#define CORVANE_REQUIRE_SERVICE(check)                                    \
  do {                                                                    \
    const ::corvane::testing::ServiceCheck service_check_ = (check);      \
    if (!service_check_.ok) {                                             \
      if (::corvane::testing::ServicesRequired()) {                       \
        FAIL() << "required service missing: " << service_check_.missing; \
      } else {                                                            \
        GTEST_SKIP() << "service missing: " << service_check_.missing;    \
      }                                                                   \
    }                                                                     \
  } while (0)

struct MailboxField {
  std::string name;     // decoded display name; empty: none
  std::string address;  // local@domain
  bool operator==(const MailboxField&) const = default;
};

// One message as a real MIME parser reads it.
struct ReceivedMessage {
  // Envelope and session (empty for a message read from a file).
  std::string envelope_from;
  std::vector<std::string> recipients;
  int peer_port = 0;      // the client's port: one per connection
  bool tls = false;       // received over TLS
  std::string auth_user;  // the AUTH login, if any
  // Decoded headers.
  std::string from_name;
  std::string from_address;
  std::vector<MailboxField> to, cc, bcc;
  std::string subject;
  std::string date;
  std::string message_id;
  std::string content_type;          // "text/plain"
  std::string charset;               // "utf-8"
  std::string transfer_encoding;     // "quoted-printable", "7bit", "8bit"
  std::vector<std::string> defects;  // what the parser found wrong; empty for a good message
  // The decoded body bytes, and the message as received.
  std::string body;
  std::string raw;
};

// Decodes complete message files (e.g. a pickup folder's .eml files), in the given order.
std::vector<ReceivedMessage> DecodeMessageFiles(const std::vector<std::filesystem::path>& files);
ReceivedMessage DecodeMessage(std::string_view raw);

// A self-signed certificate for 127.0.0.1 and localhost, made with openssl.
struct TestCertificate {
  std::filesystem::path cert;  // PEM; also the CA file that verifies it
  std::filesystem::path key;
};
TestCertificate MakeTestCertificate(const std::filesystem::path& folder);

struct SmtpServerOptions {
  enum class Tls {
    kNone,
    kStartTls,          // offered, not required
    kStartTlsRequired,  // MAIL refused before STARTTLS
    kImplicit,          // TLS from the first byte (smtps)
  };
  Tls tls = Tls::kNone;
  bool announce_8bitmime = true;
  // Non-empty: AUTH required, and only after STARTTLS (or over implicit TLS).
  std::string auth_user;
  // Empty: a secret made for this server (SmtpServer::auth_password()).
  std::string auth_password;
  // Every AUTH is refused with a reply that quotes the client's response (base64), as some
  // servers do.
  bool echo_auth = false;
};

class SmtpServer {
 public:
  // Starts the server and waits until it serves; throws std::runtime_error if it does not.
  explicit SmtpServer(SmtpServerOptions options = {});
  ~SmtpServer();
  SmtpServer(const SmtpServer&) = delete;
  SmtpServer& operator=(const SmtpServer&) = delete;

  int port() const { return port_; }
  std::string host_port() const { return "127.0.0.1:" + std::to_string(port_); }
  // The certificate of a TLS server (its PEM verifies it).
  const TestCertificate& certificate() const { return certificate_; }
  const std::string& auth_password() const { return auth_password_; }

  // Every message accepted so far, in order of arrival, decoded.
  std::vector<ReceivedMessage> Messages() const;
  // The commands the server saw so far, in order: "EHLO", "MAIL", "RCPT", "DATA".
  std::vector<std::string> Commands() const;
  // Client connections that sent EHLO so far.
  std::size_t Connections() const;

 private:
  TempDir dir_;
  int port_ = 0;
  TestCertificate certificate_;
  std::string auth_password_;
  std::unique_ptr<ChildProcess> process_;
};

class SmtpSink {
 public:
  // smtp-sink on a port of the kernel's choice, run as root with "-u nobody -a" and `options`
  // (e.g. {"-f", "RCPT"}); waits until it listens.
  explicit SmtpSink(const std::vector<std::string>& options = {});
  int port() const { return port_; }
  std::string host_port() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace corvane::testing
