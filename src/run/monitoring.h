// How a run tells monitoring that it ran: a heartbeat URL for cron monitors (Healthchecks,
// Cronitor, Uptime Kuma's push monitors) and a metrics file for node_exporter's textfile
// collector. Neither may change a run's result: each request and each write ends within its
// bound and at worst gives one warning line.
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

namespace corvane::run {

// Where a run reports to; empty: not configured.
struct MonitorSettings {
  std::string heartbeat_url;
  std::string heartbeat_source;  // what gave it: the option or the environment variable
  std::filesystem::path metrics_file;

  // `option_url`/`option_file`: what --heartbeat-url / --metrics-file gave (nullopt: not given;
  // an empty value turns the item off), otherwise CORVANE_HEARTBEAT_URL / CORVANE_METRICS_FILE
  // (unset or empty: off).
  static MonitorSettings Resolve(std::optional<std::string> option_url,
                                 std::optional<std::string> option_file);
};

// What a run ended with.
struct RunSummary {
  int exit_status = 0;
  long alerts_sent = 0;
  std::chrono::duration<double> duration{};
  GuardedText report;  // the run's one report line; empty when none
  std::chrono::system_clock::time_point ended{};
};

struct CurlUrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// A cron monitor's push URL: POSTs to URL/start as the run begins, and to URL (status 0) or
// URL/<status> as it ends, each with a text/plain body. http and https only, no redirects,
// the mail client's TLS settings; each request ends within `limit`, whatever the monitor does.
class Heartbeat {
 public:
  // `url` empty: every call does nothing. A URL that is not http:// or https:// with a host is
  // a mistake of its settings, not of the run: Start gives one warning naming `source` (never
  // the URL) and nothing is sent. `ca_file`: CA certificates to verify https with instead of
  // the system store (empty: the system store), read only from a regular file. The URL's
  // secrets go into `guard`, which masks every body. Fails (kMail) when libcurl cannot
  // initialise.
  Heartbeat(std::string url, std::string_view source, std::filesystem::path ca_file,
            std::chrono::seconds limit, SecretGuard& guard);

  // Each returns "" or one warning line (with its line end) that names the monitor's host,
  // never the URL's path, query or credentials.
  GuardedText Start() noexcept;
  // Only the first call sends: the run ends once, whoever ends it.
  GuardedText Finish(const RunSummary& summary) noexcept;

 private:
  // Hands `guard` what no output may show: the URL, its password and its keys.
  void GuardSecrets(SecretGuard& guard) const;
  GuardedText Send(const std::string& path_suffix, const GuardedText& body) noexcept;
  GuardedText Failure(std::string_view why) const;  // the warning line

  const SecretGuard& guard_;
  std::optional<mail::CurlGlobal> curl_global_;
  CurlUrl url_;
  std::string given_url_;
  std::string host_;      // host[:port], what a warning may name
  GuardedText unusable_;  // the warning for a URL that cannot be used
  std::filesystem::path ca_file_;
  std::chrono::seconds limit_;
  std::atomic<bool> finished_{false};
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
