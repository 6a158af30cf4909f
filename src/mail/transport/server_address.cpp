#include "mail/transport/server_address.h"

#include <algorithm>

#include "base/ascii.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

constexpr std::string_view kWhat = "mail server";
constexpr int kSmtpPort = 25;
constexpr int kSmtpsPort = 465;

// The server text for an error message, its secrets masked.
std::string Shown(std::string_view text) {
  return Quoted(ShownServerText(text));
}

bool IsHostChar(char c) {
  return IsAsciiAlnum(c) || c == '-' || c == '.';
}

bool IsValidHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string_view inner = host.substr(1, host.size() - 2);
    return std::all_of(inner.begin(), inner.end(),
                       [](char c) { return HexDigitValue(c) >= 0 || c == ':' || c == '.'; });
  }
  return !host.empty() && host.size() <= 253 && host.front() != '.' && host.front() != '-' &&
         host.find("..") == std::string_view::npos &&
         std::all_of(host.begin(), host.end(), IsHostChar);
}

int ParsePort(std::string_view digits, std::string_view text) {
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    ThrowRefused(kWhat, Shown(text) + " has an invalid port");
  }
  const int port = std::stoi(std::string(digits));
  if (port < 1 || port > 65535) ThrowRefused(kWhat, Shown(text) + " has an invalid port");
  return port;
}

// "host", "host:port", "[v6]" or "[v6]:port".
void ParseHostPort(std::string_view authority, std::string_view text, ServerAddress& out) {
  std::size_t colon = std::string_view::npos;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close != std::string_view::npos && close + 1 < authority.size()) {
      if (authority[close + 1] != ':') ThrowRefused(kWhat, Shown(text) + " has a bad host");
      colon = close + 1;
    }
  } else {
    colon = authority.find(':');
  }
  out.host = std::string(authority.substr(0, colon));
  if (!IsValidHost(out.host)) ThrowRefused(kWhat, Shown(text) + " has no valid host name");
  if (colon != std::string_view::npos) out.port = ParsePort(authority.substr(colon + 1), text);
}

std::string PercentDecode(std::string_view encoded, std::string_view text) {
  bool complete = true;
  const std::string out = PercentDecoded(encoded, complete);
  if (!complete) ThrowRefused(kWhat, Shown(text) + " has a bad %-escape in its credentials");
  if (out.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    ThrowRefused(kWhat, "credentials contain a line break or NUL");
  }
  return out;
}

void ParseUrl(std::string_view rest, std::string_view text, ServerAddress& out) {
  const std::size_t slash = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, slash);
  if (slash != std::string_view::npos && rest.substr(slash) != "/") {
    ThrowRefused(kWhat, Shown(text) + " has a path or query; only scheme://host:port is used");
  }
  // Read as masking reads it, so what is masked is what is used.
  const WrittenCredentials credentials = FindCredentials(text);
  if (credentials.present) {
    out.user = PercentDecode(credentials.user, text);
    if (out.user.empty()) ThrowRefused(kWhat, Shown(text) + " has an empty user name");
    out.password = PercentDecode(credentials.password, text);
    out.has_credentials = true;
    authority = authority.substr(authority.rfind('@') + 1);
  }
  ParseHostPort(authority, text, out);
}

}  // namespace

std::string ServerAddress::Url() const {
  return std::string(kind == ServerKind::kSmtpsUrl ? "smtps://" : "smtp://") + host + ":" +
         std::to_string(port);
}

std::string ServerAddress::Describe() const {
  switch (kind) {
    case ServerKind::kPickup:
      return "pickup:" + folder.string();
    case ServerKind::kRelay:
      return host + ":" + std::to_string(port);
    case ServerKind::kSmtpUrl:
    case ServerKind::kSmtpsUrl:
      break;
  }
  std::string url = Url();
  if (has_credentials) url.insert(url.find("//") + 2, user + "@");
  return url;
}

WrittenCredentials FindCredentials(std::string_view server_text) {
  std::string_view rest = TrimBlanks(server_text);
  if (StartsWithNoCase(rest, "pickup:")) return {};
  std::size_t scheme = 0;
  bool slip = false;
  for (const std::string_view name : {std::string_view("smtps"), std::string_view("smtp")}) {
    if (!StartsWithNoCase(rest, name)) continue;
    std::size_t end = name.size();
    if (end < rest.size() && rest[end] == ':') ++end;
    while (end < rest.size() && rest[end] == '/') ++end;
    if (end > name.size()) {
      scheme = end;  // a slip such as "smtp:" or "smtp//" still is one
      slip = rest.substr(name.size(), end - name.size()) != "://";
    }
    break;
  }
  const std::size_t at = rest.rfind('@');
  if (at == std::string_view::npos) return {};
  if (scheme == 0) {
    const std::size_t other = rest.substr(0, at).find("://");
    if (other != std::string_view::npos) scheme = other + 3;
  }
  if (scheme > at) return {};
  const std::string_view userinfo = rest.substr(scheme, at - scheme);
  const std::size_t colon = userinfo.find(':');
  WrittenCredentials out;
  out.present = true;
  out.scheme_slip = slip;
  out.userinfo = userinfo;
  out.user = userinfo.substr(0, colon);
  if (colon != std::string_view::npos) out.password = userinfo.substr(colon + 1);
  return out;
}

std::vector<std::string_view> SecretParts(std::string_view server_text) {
  const WrittenCredentials written = FindCredentials(server_text);
  if (!written.present) return {};
  std::vector<std::string_view> parts;
  if (!written.password.empty()) parts.push_back(written.password);
  // Read another way, the user is a password: "smtp:x@host" is user "smtp" with password "x" as
  // often as user "x"; "smtp:/u:p@host" user "smtp" with password "/u:p".
  if (written.password.empty() || written.scheme_slip) parts.push_back(written.user);
  if (written.scheme_slip) parts.push_back(written.userinfo);
  return parts;
}

std::string ShownServerText(std::string_view server_text) {
  const std::vector<std::string_view> parts = SecretParts(server_text);
  if (parts.empty()) return std::string(server_text);
  // The user and the password lie within the user part: mask that span's secrets in place.
  std::vector<bool> secret(server_text.size(), false);
  for (const std::string_view part : parts) {
    const auto at = static_cast<std::size_t>(part.data() - server_text.data());
    std::fill_n(secret.begin() + static_cast<long>(at), part.size(), true);
  }
  std::string shown;
  for (std::size_t i = 0; i < server_text.size();) {
    if (!secret[i]) {
      shown += server_text[i++];
      continue;
    }
    shown += "****";
    while (i < server_text.size() && secret[i]) ++i;
  }
  return shown;
}

void GuardSecrets(std::string_view server_text, SecretGuard& guard) {
  for (const std::string_view part : SecretParts(server_text)) {
    guard.AddSecret(part, "the mail server's user or password");
  }
  // Padded as a fixed-width column holds it, and trimmed as the program reads it.
  for (const std::string_view text : {server_text, TrimBlanks(server_text)}) {
    guard.AddShownAs(text, ShownServerText(text));
  }
  const WrittenCredentials written = FindCredentials(server_text);
  if (!written.password.empty()) {
    bool complete = true;
    guard.AddLogin(PercentDecoded(written.user, complete),
                   PercentDecoded(written.password, complete));
  }
}

ServerAddress ParseServerAddress(std::string_view text,
                                 const std::filesystem::path& program_folder) {
  // Blanks around the text are dropped: a fixed-width CHAR column pads its value.
  text = TrimBlanks(text);
  if (text.empty()) ThrowRefused(kWhat, "is empty; no server to send through");
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    ThrowRefused(kWhat, Shown(text) + " contains control characters");
  }
  ServerAddress out;
  if (StartsWithNoCase(text, "pickup:")) {
    out.kind = ServerKind::kPickup;
    const std::string_view folder = text.substr(7);
    if (folder.empty()) ThrowRefused(kWhat, Shown(text) + " names no pickup folder");
    out.folder = (program_folder / std::filesystem::path(folder)).lexically_normal();
    return out;
  }
  if (std::any_of(text.begin(), text.end(),
                  [](char c) { return c == ' ' || static_cast<unsigned char>(c) >= 0x80; })) {
    ThrowRefused(kWhat, Shown(text) + " contains blanks or non-ASCII characters");
  }
  if (StartsWithNoCase(text, "smtps://")) {
    out.kind = ServerKind::kSmtpsUrl;
    out.port = kSmtpsPort;
    ParseUrl(text.substr(8), text, out);
  } else if (StartsWithNoCase(text, "smtp://")) {
    out.kind = ServerKind::kSmtpUrl;
    out.port = kSmtpPort;
    ParseUrl(text.substr(7), text, out);
  } else if (text.find("://") != std::string_view::npos) {
    ThrowRefused(kWhat, Shown(text) + " names an unknown scheme (smtp://, smtps:// or pickup:)");
  } else if (text.find('@') != std::string_view::npos) {
    ThrowRefused(kWhat, Shown(text) + " has credentials; they need smtp:// or smtps://");
  } else {
    out.kind = ServerKind::kRelay;
    out.port = kSmtpPort;
    ParseHostPort(text, text, out);
  }
  return out;
}

}  // namespace corvane::mail
