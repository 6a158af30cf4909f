#include "run/monitoring.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <system_error>

#include "base/error.h"
#include "base/file_descriptor.h"
#include "base/output.h"
#include "run/report.h"

namespace corvane::run {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeartbeatEnv = "CORVANE_HEARTBEAT_URL";
constexpr std::string_view kHeartbeatStyleEnv = "CORVANE_HEARTBEAT_STYLE";
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

std::size_t DiscardAnswer(char*, std::size_t size, std::size_t count, void*) {
  return size * count;  // the monitor's answer is its status code; the body goes nowhere
}

long Milliseconds(std::chrono::seconds s) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(s).count());
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

// The text format is the program's own words and numbers only.
void AddGauge(GuardedText& out, Own name, Own help, const GuardedText& value) {
  out += GuardedText(Own("# HELP ")) + name + Own(" ") + help + Own("\n");
  out += GuardedText(Own("# TYPE ")) + name + Own(" gauge\n");
  out += GuardedText(name) + Own(" ") + value + Own("\n");
}

GuardedText MetricsText(const RunSummary& summary, double last_success) {
  GuardedText out;
  AddGauge(out, "corvane_run_end_timestamp_seconds",
           "When the last run ended, in seconds since the epoch.",
           GuardedText::Number(EpochSeconds(summary.ended), 3));
  AddGauge(out, Own(kLastSuccess),
           "When a run last ended with status 0, in seconds since the epoch; 0: none known.",
           GuardedText::Number(last_success, 3));
  AddGauge(out, "corvane_run_exit_status", "The exit status of the last run; 0: success.",
           GuardedText::Number(summary.exit_status));
  AddGauge(out, "corvane_run_messages_sent",
           "How many messages the mail server accepted in the last run.",
           GuardedText::Number(summary.messages_sent));
  AddGauge(out, "corvane_run_alerts_handled",
           "How many alerts (tour drops, fleet tickets, fleet actions) the last run handled, "
           "each once all its messages were accepted.",
           GuardedText::Number(summary.alerts_handled));
  AddGauge(out, "corvane_run_duration_seconds", "How long the last run took, in seconds.",
           GuardedText::Number(summary.duration.count(), 3));
  return out;
}

std::string ErrnoText(int error) {
  return std::system_category().message(error);
}

// What stands at `path` when it is something the metrics file may not replace ("a FIFO"), or "".
std::string NotReplaceable(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
  if (S_ISDIR(info.st_mode)) return "a folder";
  if (S_ISFIFO(info.st_mode)) return "a FIFO";
  if (S_ISSOCK(info.st_mode)) return "a socket";
  if (S_ISLNK(info.st_mode)) return "a symbolic link";
  return "a device";
}

// Creates a new file beside `path` for its replacement, mode 0644: hidden and not ending in
// .prom, so the collector never reads it half-written; O_EXCL, so a link planted under that name
// is not followed. Gives the file and its name in `temporary`.
FileDescriptor CreateReplacement(const fs::path& path, std::string& temporary) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::uint64_t token = 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (::getentropy(&token, sizeof token) != 0) token += static_cast<std::uint64_t>(::getpid());
    std::string name = ".";  // built by appends: GCC 12 warns falsely on "." + std::string
    name.append(path.filename().string()).append(".").append(std::to_string(token % 1000000000));
    temporary = (folder / name).string();
    FileDescriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.valid() || errno != EEXIST) return file;
  }
  return FileDescriptor(-1);
}

// Writes `text` to a new file beside `path` and renames it over `path`. Returns "" or what
// failed ("not written: ...").
std::string ReplaceFile(const fs::path& path, const GuardedText& text, const SecretGuard& guard) {
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string temporary;
  FileDescriptor file = CreateReplacement(path, temporary);
  if (!file.valid()) {
    return "not written: cannot create a file in " + folder.string() + ": " + ErrnoText(errno);
  }
  const auto fail = [&](std::string_view step) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return "not written: " + std::string(step) + " " + temporary + ": " + ErrnoText(error);
  };
  // The umask may have taken the bits the collector's user reads with; giving them back only
  // ever widens to the documented mode.
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 ||
      ((info.st_mode & 0777) != 0644 && ::fchmod(file.get(), 0644) != 0)) {
    return fail("cannot set the mode of");
  }
  if (!Output(file.get(), guard).Write(text)) return fail("cannot write");
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

// The final request's summary: the status, the counts, the duration and, when the run failed,
// its report line.
GuardedText SummaryText(const RunSummary& summary) {
  GuardedText text = GuardedText(Own("exit status ")) + GuardedText::Number(summary.exit_status) +
                     Own("\nmessages sent ") + GuardedText::Number(summary.messages_sent) +
                     Own("\nalerts handled ") + GuardedText::Number(summary.alerts_handled) +
                     Own("\nduration ") + GuardedText::Number(summary.duration.count(), 3) +
                     Own(" s\n");
  if (summary.exit_status != exit_status::kOk) text += summary.report;
  return text;
}

// A warning about the monitors: only its prefix is the program's own.
GuardedText Warning(std::string_view text, const SecretGuard& guard) {
  return WarningLine(OneLineMasked(text, guard));
}

}  // namespace

MonitorSettings MonitorSettings::Resolve(std::optional<std::string> option_url,
                                         std::optional<std::string> option_style,
                                         std::optional<std::string> option_file) {
  MonitorSettings settings;
  if (option_url) {
    settings.heartbeat_url = std::move(*option_url);
    settings.heartbeat_source = "--heartbeat-url";
  } else {
    settings.heartbeat_url = Environment(kHeartbeatEnv);
    settings.heartbeat_source = kHeartbeatEnv;
  }
  settings.heartbeat_style = option_style ? *option_style : Environment(kHeartbeatStyleEnv);
  settings.metrics_file = option_file ? fs::path(*option_file) : fs::path(Environment(kMetricsEnv));
  return settings;
}

Heartbeat::Heartbeat(std::string url, std::string_view source, std::string_view style,
                     fs::path ca_file, std::chrono::seconds limit, SecretGuard& guard)
    : guard_(guard), given_url_(std::move(url)), ca_file_(std::move(ca_file)), limit_(limit) {
  if (given_url_.empty()) return;
  std::string why;
  url_ = ParseHeartbeatUrl(given_url_, why);
  GuardSecrets(guard);
  if (!url_) {
    unusable_ = Warning("the heartbeat URL given by " + std::string(source) +
                            " is not an http:// or https:// URL with a host (" + why +
                            "); no heartbeat is sent",
                        guard);
    return;
  }
  const std::optional<HeartbeatStyle> named = HeartbeatStyleNamed(style);
  if (!style.empty() && !named) {
    url_.reset();
    // Only the environment gets here: the command line refuses an unknown style itself.
    unusable_ =
        Warning(std::string(kHeartbeatStyleEnv) + "=" + std::string(style) + " is not one of " +
                    std::string(kHeartbeatStyleNames) + "; no heartbeat is sent",
                guard);
    return;
  }
  style_ = named.value_or(RecogniseHeartbeatStyle(url_.get()));
  host_ = UrlPart(url_.get(), CURLUPART_HOST).value_or("");
  if (const auto port = UrlPart(url_.get(), CURLUPART_PORT)) host_ += ":" + *port;
  curl_global_.emplace();
}

GuardedText Heartbeat::Start() noexcept {
  if (!url_) return unusable_;
  const std::optional<HeartbeatRequest> request = StartRequest(style_);
  return request ? Send(*request) : GuardedText();
}

GuardedText Heartbeat::Finish(const RunSummary& summary) noexcept {
  if (finished_.exchange(true)) return {};
  try {
    // The summary passed the guard; the conventions that carry it in the URL take it from here.
    return Send(
        EndRequest(style_, summary.exit_status, SummaryText(summary).str(),
                   std::chrono::duration_cast<std::chrono::milliseconds>(summary.duration)));
  } catch (const std::exception& e) {  // out of memory for the body
    return Failure(e.what());
  }
}

void Heartbeat::GuardSecrets(SecretGuard& guard) const {
  // The URL whole is never shown; its pieces that are not keys (the scheme, the host) are
  // ordinary words, so only its keys are looked for wherever they appear.
  guard.AddShownAs(given_url_, "****");
  if (!url_) return;
  CURLU* url = url_.get();
  if (auto whole = UrlPart(url, CURLUPART_URL)) guard.AddShownAs(*whole, "****");
  if (auto password = UrlPart(url, CURLUPART_PASSWORD)) {
    guard.AddSecret(*password, "the heartbeat URL's password");
  }
  // The user name, the path and the query are masked where they hold keys.
  const std::string keyed = UrlPart(url, CURLUPART_USER).value_or("") + "/" +
                            UrlPart(url, CURLUPART_PATH).value_or("") + "?" +
                            UrlPart(url, CURLUPART_QUERY).value_or("");
  std::size_t start = 0;
  while (start < keyed.size()) {
    std::size_t end = keyed.find_first_of("/?&=", start);
    if (end == std::string::npos) end = keyed.size();
    if (end - start >= kShortestKey) {
      guard.AddSecret(keyed.substr(start, end - start), "a key of the heartbeat URL");
    }
    start = end + 1;
  }
}

GuardedText Heartbeat::Failure(std::string_view why) {
  if (warned_.exchange(true)) return {};
  return Warning("heartbeat to " + host_ + " failed: " + std::string(why), guard_);
}

GuardedText Heartbeat::Send(const HeartbeatRequest& request) noexcept {
  if (!url_) return {};
  // Nothing here may end the run: whatever libcurl refuses becomes this request's warning.
  try {
    const std::string target = RequestUrl(url_.get(), request);
    const std::string& body = request.body;
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
    if (!ca_file_.empty()) mail::SetCaCertificates(h, mail::ReadCaFile(ca_file_));
    set(CURLOPT_TIMEOUT_MS, Milliseconds(limit_));
    set(CURLOPT_CONNECTTIMEOUT_MS, Milliseconds(limit_));
    set(CURLOPT_USERAGENT, kProgramName.data());
    if (request.post) {
      set(CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
      set(CURLOPT_POSTFIELDS, body.c_str());
    }
    set(CURLOPT_HTTPHEADER, headers.get());  // "Expect:": no 100-continue round trip
    set(CURLOPT_WRITEFUNCTION, &DiscardAnswer);
    if (code == CURLE_OK) code = curl_easy_perform(h);
    if (code != CURLE_OK) {
      const std::string why = error[0] != '\0' ? error : curl_easy_strerror(code);
      return Failure(why + " (curl " + std::to_string(code) + ")");
    }
    long answer = 0;
    (void)curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer);
    if (answer >= 200 && answer < 300) return {};
    std::string why = "the monitor answered HTTP " + std::to_string(answer);
    if (answer >= 300 && answer < 400) why += " (redirects are not followed)";
    return Failure(why);
  } catch (const Error& error) {  // the CA file
    return Failure(error.description());
  } catch (const std::exception& e) {  // out of memory
    return Failure(e.what());
  }
}

GuardedText WriteMetricsFile(const fs::path& path, const RunSummary& summary,
                             const SecretGuard& guard) noexcept {
  if (path.empty()) return {};
  try {
    if (const std::string standing = NotReplaceable(path); !standing.empty()) {
      return Warning("metrics file " + path.string() + " not written: " + standing +
                         " is there, not a regular file; it is left as it is",
                     guard);
    }
    const double last_success = summary.exit_status == exit_status::kOk
                                    ? EpochSeconds(summary.ended)
                                    : PreviousLastSuccess(path);
    const std::string failure = ReplaceFile(path, MetricsText(summary, last_success), guard);
    if (failure.empty()) return {};
    return Warning("metrics file " + path.string() + " " + failure, guard);
  } catch (const std::exception& e) {  // out of memory
    return Warning("metrics file " + path.string() + " not written: " + e.what(), guard);
  }
}

}  // namespace corvane::run
