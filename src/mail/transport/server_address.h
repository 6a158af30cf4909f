// The mail server text (the company's gEmailServer), parsed. The forms are described in
// docs/mail-servers.md:
//   host | host:port                     SMTP to a relay, port 25; STARTTLS when offered
//   smtp://[user[:password]@]host[:port] SMTP, port 25; STARTTLS, required with credentials
//   smtps://[user[:password]@]host[:port] implicit TLS, port 465
//   pickup:folder                        one .eml file per message in the folder
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/secret_guard.h"

namespace corvane::mail {

enum class ServerKind {
  kRelay,     // host[:port]: opportunistic STARTTLS, no certificate check, no credentials
  kSmtpUrl,   // smtp://: certificate verified; STARTTLS required when credentials are given
  kSmtpsUrl,  // smtps://: implicit TLS, certificate verified
  kPickup,    // pickup:folder
};

struct ServerAddress {
  ServerKind kind = ServerKind::kRelay;
  std::string host;  // a host name, dotted IPv4 or a bracketed IPv6 address
  int port = 0;
  bool has_credentials = false;
  std::string user;              // percent-decoded
  std::string password;          // percent-decoded
  std::filesystem::path folder;  // pickup: absolute, resolved against the program folder

  // The URL libcurl connects to, without credentials: "smtp://host:port".
  std::string Url() const;
  // For error reports: the server without its password.
  std::string Describe() const;
};

// The user part of a server text as written, read alike from every form that carries one,
// written well or not: after a scheme ("smtp" or "smtps" with any of ':' and then '/' after it,
// or anything up to "://"), up to the last '@'; the password follows the first ':' in it.
// "smtp://u:p@h", "smtp:/u:p@h", "smtp:u:p@h", "smtp//u:p@h" and "u:p@h:25" all carry password
// "p". A pickup folder carries none.
struct WrittenCredentials {
  bool present = false;       // the text has a user part
  bool scheme_slip = false;   // "smtp" or "smtps" written without "://" before it
  std::string_view userinfo;  // the whole user part
  std::string_view user;
  std::string_view password;  // empty: none
};
WrittenCredentials FindCredentials(std::string_view server_text);

// The parts of `server_text` that are or may be secrets, as written (views into it): the
// password; and where the text can be read another way, the user (without a password, or
// after a slipped scheme) and the whole user part. None for a text without a user part.
std::vector<std::string_view> SecretParts(std::string_view server_text);
// `server_text` with each of its SecretParts shown as "****": how any output shows it.
std::string ShownServerText(std::string_view server_text);
// Hands `guard` every secret of `server_text`: its SecretParts, the text as ShownServerText
// shows it, and the login the program would send with it.
void GuardSecrets(std::string_view server_text, SecretGuard& guard);

// Fails (ThrowRefused) for an empty text, a text with blanks or control characters, an unknown
// scheme, a bad host or port, a path or query in a URL, or credentials outside a URL form.
ServerAddress ParseServerAddress(std::string_view text,
                                 const std::filesystem::path& program_folder);

}  // namespace corvane::mail
