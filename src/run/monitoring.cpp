#include "run/monitoring.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <span>
#include <system_error>

#include "base/error.h"
#include "base/file_descriptor.h"
#include "run/report.h"

namespace corvane::run {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeartbeatEnv = "CORVANE_HEARTBEAT_URL";
constexpr std::string_view kMetricsEnv = "CORVANE_METRICS_FILE";
// A URL's path or query parts this long are keys; shorter ones are words ("ping", "api").
constexpr std::size_t kShortestKey = 8;
// More than a metrics file of ours ever holds; a larger file is not ours.
constexpr std::size_t kLongestMetricsFile = 64 * 1024;
constexpr std::string_view kLastSuccess = "corvane_run_last_success_timestamp_seconds";

std::string Environment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  return value == nullptr ? std::string() : std::string(value);
}

struct CurlFreeDeleter {
  void operator()(char* text) const noexcept { curl_free(text); }
};

// One part of `url`; nullopt when it has none (no user, no explicit port, ...).
std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  const CURLUcode code = curl_url_get(url, part, &raw, 0);
  const std::unique_ptr<char, CurlFreeDeleter> owned(raw);
  if (code != CURLUE_OK || raw == nullptr) return std::nullopt;
  return std::string(raw);
}

// libcurl's own reader of URLs, so what is checked here is what libcurl will request. Gives the
// URL, or nothing and in `why` what is wrong with it (never the URL itself: it is a secret).
CurlUrl ParseHeartbeatUrl(const std::string& text, std::string& why) {
  CurlUrl url(curl_url());
  if (!url) {
    why = "out of memory";
    return nullptr;
  }
  const CURLUcode code = curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0);
  if (code != CURLUE_OK) {
    why = curl_url_strerror(code);
    return nullptr;
  }
  const std::string scheme = UrlPart(url.get(), CURLUPART_SCHEME).value_or("");
  if (scheme != "http" && scheme != "https") {
    why = "scheme " + scheme;
    return nullptr;
  }
  if (UrlPart(url.get(), CURLUPART_HOST).value_or("").empty()) {
    why = "no host";
    return nullptr;
  }
  return url;
}

// `url` with "/<suffix>" added to its path (before any query); the URL itself for "".
std::string WithPathSuffix(CURLU* url, const std::string& suffix) {
  CurlUrl copy(curl_url_dup(url));
  if (!copy) throw std::bad_alloc();
  (void)curl_url_set(copy.get(), CURLUPART_FRAGMENT, nullptr, 0);
  if (!suffix.empty()) {
    std::string path = UrlPart(copy.get(), CURLUPART_PATH).value_or("/");
    while (!path.empty() && path.back() == '/') path.pop_back();
    path += "/" + suffix;
    if (curl_url_set(copy.get(), CURLUPART_PATH, path.c_str(), 0) != CURLUE_OK) {
      throw std::bad_alloc();
    }
  }
  return UrlPart(copy.get(), CURLUPART_URL).value_or("");
}

std::size_t DiscardAnswer(char*, std::size_t size, std::size_t count, void*) {
  return size * count;  // the monitor's answer is its status code; the body goes nowhere
}

long Milliseconds(std::chrono::seconds s) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(s).count());
}

// Locale-free decimal text, as the text format and the summary want it.
std::string Decimal(double value, int decimals) {
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

double EpochSeconds(std::chrono::system_clock::time_point at) {
  return std::chrono::duration<double>(at.time_since_epoch()).count();
}

// The last success time the file at `path` holds; 0 when there is none to be read.
double PreviousLastSuccess(const fs::path& path) {
  // O_NONBLOCK: a FIFO planted there must not hold the run; O_NOFOLLOW: nor a link elsewhere.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  std::string text(kLongestMetricsFile, '\0');
  std::size_t size = 0;
  while (size < text.size()) {
    const ssize_t n = ::read(file.get(), text.data() + size, text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  text.resize(size);
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.starts_with(kLastSuccess) || line.size() == kLastSuccess.size() ||
        line[kLastSuccess.size()] != ' ') {
      continue;
    }
    line.remove_prefix(kLastSuccess.size());
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    double value = 0;
    const auto [ptr, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error == std::errc() && std::isfinite(value) && value > 0) return value;
  }
  return 0;
}

void AddGauge(std::string& out, std::string_view name, std::string_view help,
              const std::string& value) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" gauge\n");
  out.append(name).append(" ").append(value).append("\n");
}

std::string MetricsText(const RunSummary& summary, double last_success) {
  std::string out;
  AddGauge(out, "corvane_run_end_timestamp_seconds",
           "When the last run ended, in seconds since the epoch.",
           Decimal(EpochSeconds(summary.ended), 3));
  AddGauge(out, kLastSuccess,
           "When a run last ended with status 0, in seconds since the epoch; 0: none known.",
           Decimal(last_success, 3));
  AddGauge(out, "corvane_run_exit_status", "The exit status of the last run; 0: success.",
           std::to_string(summary.exit_status));
  AddGauge(out, "corvane_run_alerts_sent", "How many alerts the last run sent.",
           std::to_string(summary.alerts_sent));
  AddGauge(out, "corvane_run_duration_seconds", "How long the last run took, in seconds.",
           Decimal(summary.duration.count(), 3));
  return out;
}

std::string ErrnoText(int error) {
  return std::system_category().message(error);
}

// Writes `text` to a new file beside `path` and renames it over `path`. Returns "" or what
// failed ("not written: ...").
std::string ReplaceFile(const fs::path& path, const std::string& text) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  // Hidden and not ending in .prom, so the collector never reads it half-written; mkostemp
  // creates it with O_EXCL, so a link planted under that name is not followed.
  std::string name = ".";  // built by appends: GCC 12 warns falsely on "." + std::string
  name.append(path.filename().string()).append(".XXXXXX");
  std::string temporary = (folder / name).string();
  FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!file.valid()) {
    return "not written: cannot create a file in " + folder.string() + ": " + ErrnoText(errno);
  }
  const auto fail = [&](std::string_view step) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return "not written: " + std::string(step) + " " + temporary + ": " + ErrnoText(error);
  };
  // Readable by the collector's own user, whatever the umask.
  if (::fchmod(file.get(), 0644) != 0) return fail("cannot set the mode of");
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(file.get(), text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("cannot write");
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(file.get()) != 0) return fail("cannot write");
  if (file.Close() != 0) return fail("cannot write");
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot rename");
  // The rename itself survives a power loss only once the folder is on disk too.
  const FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid() || ::fsync(dir.get()) != 0) {
    return "written, but its folder not synced: " + ErrnoText(errno);
  }
  return "";
}

// The final request's body: the status, the alert count, the duration and, when the run
// failed, its report line.
std::string SummaryText(const RunSummary& summary) {
  std::string text = "exit status " + std::to_string(summary.exit_status) + "\nalerts sent " +
                     std::to_string(summary.alerts_sent) + "\nduration " +
                     Decimal(summary.duration.count(), 3) + " s\n";
  if (summary.exit_status != exit_status::kOk && !summary.report.empty()) {
    text += OneLine(summary.report) + "\n";
  }
  return text;
}

}  // namespace

MonitorSettings MonitorSettings::Resolve(std::optional<std::string> option_url,
                                         std::optional<std::string> option_file) {
  MonitorSettings settings;
  if (option_url) {
    settings.heartbeat_url = std::move(*option_url);
    settings.heartbeat_source = "--heartbeat-url";
  } else {
    settings.heartbeat_url = Environment(kHeartbeatEnv);
    settings.heartbeat_source = kHeartbeatEnv;
  }
  settings.metrics_file = option_file ? fs::path(*option_file) : fs::path(Environment(kMetricsEnv));
  return settings;
}

Heartbeat::Heartbeat(std::string url, std::string_view source, fs::path ca_file,
                     std::chrono::seconds limit)
    : given_url_(std::move(url)), ca_file_(std::move(ca_file)), limit_(limit) {
  if (given_url_.empty()) return;
  std::string why;
  url_ = ParseHeartbeatUrl(given_url_, why);
  if (!url_) {
    unusable_ = WarningLine("the heartbeat URL given by " + std::string(source) +
                                " is not an http:// or https:// URL with a host (" + why +
                                "); no heartbeat is sent",
                            std::span<const std::string>(&given_url_, 1));
    return;
  }
  host_ = UrlPart(url_.get(), CURLUPART_HOST).value_or("");
  if (const auto port = UrlPart(url_.get(), CURLUPART_PORT)) host_ += ":" + *port;
  curl_global_.emplace();
}

std::string Heartbeat::Start() noexcept {
  if (!url_) return unusable_;
  return Send("start", "");
}

std::string Heartbeat::Finish(const RunSummary& summary) noexcept {
  if (finished_.exchange(true)) return "";
  try {
    const std::string suffix = summary.exit_status == exit_status::kOk
                                   ? std::string()
                                   : std::to_string(summary.exit_status);
    return Send(suffix, SummaryText(summary));
  } catch (const std::exception& e) {  // out of memory for the body
    return Failure(e.what());
  }
}

std::vector<std::string> Heartbeat::Secrets() const {
  if (!url_) return {};
  std::vector<std::string> secrets = {given_url_};
  CURLU* url = url_.get();
  for (const CURLUPart part : {CURLUPART_URL, CURLUPART_PASSWORD}) {
    if (auto text = UrlPart(url, part)) secrets.push_back(std::move(*text));
  }
  // The user name, the path and the query are masked where they hold keys.
  const std::string keyed = UrlPart(url, CURLUPART_USER).value_or("") + "/" +
                            UrlPart(url, CURLUPART_PATH).value_or("") + "?" +
                            UrlPart(url, CURLUPART_QUERY).value_or("");
  std::size_t start = 0;
  while (start < keyed.size()) {
    std::size_t end = keyed.find_first_of("/?&=", start);
    if (end == std::string::npos) end = keyed.size();
    if (end - start >= kShortestKey) secrets.push_back(keyed.substr(start, end - start));
    start = end + 1;
  }
  return secrets;
}

std::string Heartbeat::Failure(std::string_view why) const {
  return WarningLine("heartbeat to " + host_ + " failed: " + std::string(why), Secrets());
}

std::string Heartbeat::Send(const std::string& path_suffix, const std::string& body) noexcept {
  if (!url_) return "";
  // Nothing here may end the run: whatever libcurl refuses becomes this request's warning.
  try {
    const std::string target = WithPathSuffix(url_.get(), path_suffix);
    mail::CurlEasy easy(curl_easy_init());
    if (!easy) return Failure("libcurl cannot make a handle");
    CURL* h = easy.get();
    char error[CURL_ERROR_SIZE] = "";
    mail::CurlList headers(curl_slist_append(nullptr, "Content-Type: text/plain; charset=utf-8"));
    curl_slist* both = headers ? curl_slist_append(headers.get(), "Expect:") : nullptr;
    if (both == nullptr) return Failure("out of memory");
    CURLcode code = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
      if (code == CURLE_OK) code = curl_easy_setopt(h, option, value);
    };
    set(CURLOPT_ERRORBUFFER, error);
    set(CURLOPT_URL, target.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    if (!ca_file_.empty()) set(CURLOPT_CAINFO, ca_file_.c_str());
    set(CURLOPT_TIMEOUT_MS, Milliseconds(limit_));
    set(CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(limit_));
    set(CURLOPT_USERAGENT, kProgramName.data());
    set(CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    set(CURLOPT_POSTFIELDS, body.c_str());
    set(CURLOPT_HTTPHEADER, headers.get());  // "Expect:": no 100-continue round trip
    set(CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    if (code == CURLE_OK) code = curl_easy_perform(h);
    if (code != CURLE_OK) {
      const std::string why = error[0] != '\0' ? error : curl_easy_strerror(code);
      return Failure(why + " (curl " + std::to_string(code) + ")");
    }
    long answer = 0;
    (void)curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer);
    if (answer >= 200 && answer < 300) return "";
    std::string why = "the monitor answered HTTP " + std::to_string(answer);
    if (answer >= 300 && answer < 400) why += " (redirects are not followed)";
    return Failure(why);
  } catch (const std::exception& e) {  // out of memory
    return Failure(e.what());
  }
}

std::string WriteMetricsFile(const fs::path& path, const RunSummary& summary) noexcept {
  if (path.empty()) return "";
  try {
    const double last_success = summary.exit_status == exit_status::kOk
                                    ? EpochSeconds(summary.ended)
                                    : PreviousLastSuccess(path);
    const std::string failure = ReplaceFile(path, MetricsText(summary, last_success));
    if (failure.empty()) return "";
    return WarningLine("metrics file " + path.string() + " " + failure, {});
  } catch (const std::exception& e) {  // out of memory
    return WarningLine("metrics file " + path.string() + " not written: " + e.what(), {});
  }
}

}  // namespace corvane::run
