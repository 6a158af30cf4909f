#include "mail/transport/server_address.h"

#include <algorithm>

#include "base/ascii.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

constexpr std::string_view kWhat = "mail server";
constexpr int kSmtpPort = 25;
constexpr int kSmtpsPort = 465;

// The server text for an error message, with the password of a URL's user part masked.
std::string Shown(std::string_view text) {
  const std::string_view password = WrittenPassword(text);
  if (password.empty()) return Quoted(text);
  const std::size_t at = static_cast<std::size_t>(password.data() - text.data());
  return Quoted(std::string(text.substr(0, at)) + "****" +
                std::string(text.substr(at + password.size())));
}

bool IsHostChar(char c) {
  return IsAsciiAlnum(c) || c == '-' || c == '.';
}

bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (ToLowerAscii(c) >= 'a' && ToLowerAscii(c) <= 'f');
}

bool IsValidHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    const std::string_view inner = host.substr(1, host.size() - 2);
    return std::all_of(inner.begin(), inner.end(),
                       [](char c) { return IsHexDigit(c) || c == ':' || c == '.'; });
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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view encoded, std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      out += encoded[i];
      continue;
    }
    const int high = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(encoded[i + 2]) : -1;
    if (low < 0) ThrowRefused(kWhat, Shown(text) + " has a bad %-escape in its credentials");
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
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
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    const std::size_t colon = userinfo.find(':');
    out.user = PercentDecode(userinfo.substr(0, colon), text);
    if (out.user.empty()) ThrowRefused(kWhat, Shown(text) + " has an empty user name");
    if (colon != std::string_view::npos) {
      out.password = PercentDecode(userinfo.substr(colon + 1), text);
    }
    out.has_credentials = true;
    authority = authority.substr(at + 1);
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

std::string_view WrittenPassword(std::string_view server_text) {
  const std::size_t scheme = server_text.find("://");
  const std::size_t at = server_text.rfind('@');
  if (scheme == std::string_view::npos || at == std::string_view::npos || at < scheme) return {};
  const std::size_t colon = server_text.find(':', scheme + 3);
  if (colon == std::string_view::npos || colon > at) return {};
  return server_text.substr(colon + 1, at - colon - 1);
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
