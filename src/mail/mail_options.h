// Settings of the delivering component that are not part of a message.
#pragma once

#include <chrono>
#include <filesystem>

namespace corvane::mail {

struct MailOptions {
  // Extra CA certificates (PEM) to verify smtp:// and smtps:// servers with instead of the
  // system store: for tests and private CAs. Empty: the system store.
  std::filesystem::path ca_file;
  // Longest wait for a connection (TCP and TLS handshake); the send's time limit caps it.
  std::chrono::seconds connect_timeout{10};

  // ca_file from CORVANE_MAIL_CA_FILE when that is set and not empty.
  static MailOptions FromEnvironment();
};

}  // namespace corvane::mail
