// How a run tells monitoring that it ran: a heartbeat URL for cron monitors (Healthchecks,
// Cronitor, Uptime Kuma's push monitors, each in its own convention: monitor_conventions.h) and
// a metrics file for node_exporter's textfile collector. Neither may change a run's result: each
// request and each write ends within its bound, and the heartbeat gives at most one warning line
// a run, the metrics file one more.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/secret_guard.h"
#include "mail/transport/curl_handle.h"
#include "run/monitor_conventions.h"

namespace corvane::run {

// Where a run reports to; empty: not configured.
struct MonitorSettings {
  std::string heartbeat_url;
  std::string heartbeat_source;  // what gave it: the option or the environment variable
  // The monitor's convention by name (kHeartbeatStyleNames); empty: recognised from the URL.
  std::string heartbeat_style;
  std::filesystem::path metrics_file;

  // `option_url`/`option_style`/`option_file`: what --heartbeat-url / --heartbeat-style /
  // --metrics-file gave (nullopt: not given; an empty value turns the item off, or for the style
  // leaves it to the URL), otherwise CORVANE_HEARTBEAT_URL / CORVANE_HEARTBEAT_STYLE /
  // CORVANE_METRICS_FILE (unset or empty: off, or recognised).
  static MonitorSettings Resolve(std::optional<std::string> option_url,
                                 std::optional<std::string> option_style,
                                 std::optional<std::string> option_file);
};

// What a run ended with.
struct RunSummary {
  int exit_status = 0;
  long messages_sent = 0;   // messages the mail server accepted
  long alerts_handled = 0;  // tour drops, tickets and actions logged, all their messages accepted
  std::chrono::duration<double> duration{};
  GuardedText report;  // the run's one report line; empty when none
  std::chrono::system_clock::time_point ended{};
};

// A cron monitor's push URL: a request as the run begins and one as it ends, in the monitor's
// convention (monitor_conventions.h). http and https only, through the proxy the standard
// variables name (http_proxy, https_proxy, no_proxy), no redirects, the mail client's TLS
// settings; each request ends within `limit`, whatever the monitor does.
class Heartbeat {
 public:
  // `url` empty: every call does nothing. A URL that is not http:// or https:// with a host, or
  // a `style` that names no convention, is a mistake of its settings, not of the run: Start
  // gives one warning naming `source` (never the URL) and nothing is sent. `style` empty: the
  // convention the URL shows. `ca_file`: CA certificates to verify https with instead of the
  // system store (empty: the system store), read only from a regular file. The URL's secrets go
  // into `guard`, which masks every body. Fails (kMail) when libcurl cannot initialise.
  Heartbeat(std::string url, std::string_view source, std::string_view style,
            std::filesystem::path ca_file, std::chrono::seconds limit, SecretGuard& guard);

  // Each returns "" or one warning line (with its line end) that names the monitor's host,
  // never the URL's path, query or credentials. A monitor that is down costs one line a run:
  // after a failed start the end is still sent, since it carries the run's result, but its
  // failure is not told again.
  GuardedText Start() noexcept;
  // Only the first call sends: the run ends once, whoever ends it.
  GuardedText Finish(const RunSummary& summary) noexcept;

 private:
  // Hands `guard` what no output may show: the URL, its password and its keys.
  void GuardSecrets(SecretGuard& guard) const;
  GuardedText Send(const HeartbeatRequest& request) noexcept;
  GuardedText Failure(std::string_view why);  // the warning line, or "" once one was given

  const SecretGuard& guard_;
  std::optional<mail::CurlGlobal> curl_global_;
  CurlUrl url_;
  HeartbeatStyle style_ = HeartbeatStyle::kHealthchecks;
  std::string given_url_;
  std::string host_;      // host[:port], what a warning may name
  GuardedText unusable_;  // the warning for a URL that cannot be used
  std::filesystem::path ca_file_;
  std::chrono::seconds limit_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> warned_{false};
};

// Replaces `path` atomically (a hidden temporary file in the same folder, made mode 0644 so the
// collector's user can read it, written through `guard`, fsync, rename) with the Prometheus
// text format. Only nothing or a regular file is replaced: a folder, device, FIFO, socket or
// link at `path` is left as it is, with a warning. When this run did not end with 0, the last
// success time is carried over from the file it replaces. Returns "" or one warning line (with
// its line end); never fails the run. Empty `path`: does nothing.
GuardedText WriteMetricsFile(const std::filesystem::path& path, const RunSummary& summary,
                             const SecretGuard& guard) noexcept;

}  // namespace corvane::run
