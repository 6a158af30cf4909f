// The three conventions of cron monitors that a heartbeat speaks, and the request each wants as
// a run begins and as it ends. Each monitor answers 404 to, or ignores, a form not its own, so
// speaking the wrong one means the monitor never hears "down".
//
//   Healthchecks (hc-ping.com, and monitors that copy it): POST URL/start; then POST URL for
//     status 0 or URL/<status> otherwise; the body is the run's summary.
//   Cronitor's telemetry (cronitor.link/p/<key>/<monitor>): GET URL?state=run; then
//     ?state=complete or ?state=fail, each end with &message=<the summary on one line>.
//   Uptime Kuma's push monitor (/api/push/<token>): it knows no start, so nothing is sent; then
//     GET URL?status=up or ?status=down with &msg=<the summary on one line>&ping=<milliseconds>.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::run {

enum class HeartbeatStyle { kHealthchecks, kCronitor, kUptimeKuma };

// The names --heartbeat-style and CORVANE_HEARTBEAT_STYLE take.
inline constexpr std::string_view kHeartbeatStyleNames = "healthchecks, cronitor, uptime-kuma";
// The style `name` names (exactly, as kHeartbeatStyleNames lists them); nullopt for another.
std::optional<HeartbeatStyle> HeartbeatStyleNamed(std::string_view name);

struct CurlUrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// One part of `url`; nullopt when it has none (no user, no explicit port, ...).
std::optional<std::string> UrlPart(CURLU* url, CURLUPart part);

// The style a push URL shows: the host hc-ping.com or a path that starts /ping/ is
// Healthchecks, cronitor.link or /p/ Cronitor, a path holding /api/push/ Uptime Kuma. Any other
// URL gets Healthchecks' paths, the convention monitors most often copy.
HeartbeatStyle RecogniseHeartbeatStyle(CURLU* url);

struct HeartbeatRequest {
  bool post = false;        // else GET
  std::string path_suffix;  // added to the URL's path after a '/'; empty: none
  std::vector<std::pair<std::string, std::string>> query;  // appended, values not yet encoded
  std::string body;                                        // for a POST
};

// The request as the run begins; nullopt where the convention has none.
std::optional<HeartbeatRequest> StartRequest(HeartbeatStyle style);
// The request as the run ends with `exit_status`. `summary` is the run's summary, several lines;
// the conventions that carry it in the URL get it on one line, cut to a length URLs keep.
HeartbeatRequest EndRequest(HeartbeatStyle style, int exit_status, const std::string& summary,
                            std::chrono::milliseconds duration);

// `base` (the configured URL, without its fragment) with `request`'s path suffix and query
// added, as libcurl writes URLs. Throws std::bad_alloc when libcurl cannot make it.
std::string RequestUrl(CURLU* base, const HeartbeatRequest& request);

}  // namespace corvane::run
