#include "run/monitor_conventions.h"

#include <new>

namespace corvane::run {

namespace {

// Monitors keep a message of about this many bytes; a URL much longer than that is refused by
// some proxies.
constexpr std::size_t kLongestMessage = 1000;

struct CurlFreeDeleter {
  void operator()(char* text) const noexcept { curl_free(text); }
};

// The summary's lines joined by "; ", cut at a character's start within kLongestMessage.
std::string OneLineMessage(const std::string& summary) {
  std::string message;
  for (const char c : summary) {
    if (c == '\n') {
      message += "; ";
    } else {
      message += c;
    }
  }
  while (message.ends_with("; ")) message.resize(message.size() - 2);
  if (message.size() > kLongestMessage) {
    std::size_t cut = kLongestMessage;
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
    message.resize(cut);
  }
  return message;
}

}  // namespace

std::optional<HeartbeatStyle> HeartbeatStyleNamed(std::string_view name) {
  if (name == "healthchecks") return HeartbeatStyle::kHealthchecks;
  if (name == "cronitor") return HeartbeatStyle::kCronitor;
  if (name == "uptime-kuma") return HeartbeatStyle::kUptimeKuma;
  return std::nullopt;
}

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  const CURLUcode code = curl_url_get(url, part, &raw, 0);
  const std::unique_ptr<char, CurlFreeDeleter> owned(raw);
  if (code != CURLUE_OK || raw == nullptr) return std::nullopt;
  return std::string(raw);
}

HeartbeatStyle RecogniseHeartbeatStyle(CURLU* url) {
  const std::string host = UrlPart(url, CURLUPART_HOST).value_or("");
  const std::string path = UrlPart(url, CURLUPART_PATH).value_or("");
  if (host == "cronitor.link" || path.starts_with("/p/")) return HeartbeatStyle::kCronitor;
  if (path.find("/api/push/") != std::string::npos) return HeartbeatStyle::kUptimeKuma;
  return HeartbeatStyle::kHealthchecks;  // hc-ping.com, /ping/<uuid>, and every other URL
}

std::optional<HeartbeatRequest> StartRequest(HeartbeatStyle style) {
  switch (style) {
    case HeartbeatStyle::kHealthchecks:
      return HeartbeatRequest{true, "start", {}, ""};
    case HeartbeatStyle::kCronitor:
      return HeartbeatRequest{false, "", {{"state", "run"}}, ""};
    case HeartbeatStyle::kUptimeKuma:
      break;
  }
  return std::nullopt;
}

HeartbeatRequest EndRequest(HeartbeatStyle style, int exit_status, const std::string& summary,
                            std::chrono::milliseconds duration) {
  const bool ok = exit_status == 0;
  switch (style) {
    case HeartbeatStyle::kCronitor:
      return {false,
              "",
              {{"state", ok ? "complete" : "fail"}, {"message", OneLineMessage(summary)}},
              ""};
    case HeartbeatStyle::kUptimeKuma:
      return {false,
              "",
              {{"status", ok ? "up" : "down"},
               {"msg", OneLineMessage(summary)},
               {"ping", std::to_string(duration.count())}},
              ""};
    case HeartbeatStyle::kHealthchecks:
      break;
  }
  return {true, ok ? "" : std::to_string(exit_status), {}, summary};
}

std::string RequestUrl(CURLU* base, const HeartbeatRequest& request) {
  CurlUrl copy(curl_url_dup(base));
  if (!copy) throw std::bad_alloc();
  (void)curl_url_set(copy.get(), CURLUPART_FRAGMENT, nullptr, 0);
  if (!request.path_suffix.empty()) {
    std::string path = UrlPart(copy.get(), CURLUPART_PATH).value_or("/");
    while (!path.empty() && path.back() == '/') path.pop_back();
    path += "/" + request.path_suffix;
    if (curl_url_set(copy.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK) {
      throw std::bad_alloc();
    }
  }
  for (const auto& [name, value] : request.query) {
    // Encoded after the first '=': a message's '&' or '#' stays inside its value.
    const std::string part = name + "=" + value;
    if (curl_url_set(copy.get(), CURLUPART_QUERY, part.c_str(),
                     CURLU_APPENDQUERY | CURLU_URLENCODE) != CURLUE_OK) {
      throw std::bad_alloc();
    }
  }
  return UrlPart(copy.get(), CURLUPART_URL).value_or("");
}

}  // namespace corvane::run
