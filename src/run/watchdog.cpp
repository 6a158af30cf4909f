#include "run/watchdog.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/error.h"
#include "data/data_error.h"
#include "base/status_codes.h"
#include "run/report.h"

namespace corvane::run {

namespace {

using std::chrono::steady_clock;

// The watchdog looks at the clock at least this often; a limit is kept to within it.
constexpr std::chrono::milliseconds kLookInterval{200};

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

[[noreturn]] void ThrowSystem(const std::string& what) {
  throw Error(ErrorKind::kSystem, errnum::kPathFileAccessError,
              "Path/File access error: " + what + ": " + std::strerror(errno));
}

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere left to report to; the exit status still tells
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

void Watchdog::TakeOverSignals() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

Watchdog::Watchdog(const RunTrace& trace, int report_fd, std::chrono::seconds run_limit)
    : trace_(trace),
      report_fd_(report_fd),
      start_(steady_clock::now()),
      signals_([] {
        const sigset_t set = TerminationSignals();
        return ::signalfd(-1, &set, SFD_CLOEXEC);
      }()),
      stop_(::eventfd(0, EFD_CLOEXEC)),
      run_limit_(run_limit) {
  if (!signals_.valid()) ThrowSystem("cannot watch for termination signals");
  if (!stop_.valid()) ThrowSystem("cannot make the watchdog's eventfd");
  thread_ = std::thread([this] { Loop(); });
}

Watchdog::~Watchdog() {
  const std::uint64_t one = 1;
  (void)!::write(stop_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void Watchdog::SetRunLimit(std::chrono::seconds run_limit) {
  const std::lock_guard lock(mutex_);
  run_limit_ = run_limit;
}

void Watchdog::SetSecrets(std::vector<std::string> secrets) {
  const std::lock_guard lock(mutex_);
  secrets_ = std::move(secrets);
}

WatchedWait Watchdog::Watch(const WatchedWait& wait) noexcept {
  const std::lock_guard lock(mutex_);
  const WatchedWait previous = wait_;
  wait_ = wait;
  return previous;
}

void Watchdog::Restore(const WatchedWait& previous) noexcept {
  const std::lock_guard lock(mutex_);
  wait_ = previous;
}

void Watchdog::Loop() {
  while (true) {
    pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(kLookInterval.count()));
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) return;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        const int signal = static_cast<int>(info.ssi_signo);
        const char* name = sigabbrev_np(signal);
        EndRun(
            errnum::kUserInterrupt,
            "User interrupt occurred: the run was stopped by " +
                (name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal)),
            exit_status::kSignalBase + signal);
      }
    }
    const auto now = steady_clock::now();
    WatchedWait wait;
    std::chrono::seconds run_limit{};
    {
      const std::lock_guard lock(mutex_);
      wait = wait_;
      run_limit = run_limit_;
    }
    if (wait.what != nullptr && now >= wait.deadline) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait.limit).count();
      EndRun(errnum::kQueryTimeout,
             "Timeout expired: " + std::string(wait.what) + " did not end within " +
                 std::to_string(seconds) + " seconds",
             exit_status::kTimedOut);
    }
    if (now >= start_ + run_limit) {
      EndRun(errnum::kQueryTimeout,
             "Timeout expired: the run did not end within " + std::to_string(run_limit.count()) +
                 " seconds (Run Timeout)",
             exit_status::kTimedOut);
    }
  }
}

void Watchdog::EndRun(long number, const std::string& description, int status) {
  std::vector<std::string> secrets;
  {
    const std::lock_guard lock(mutex_);
    secrets = secrets_;
  }
  WriteAll(report_fd_, ReportLine(number, description, trace_.Describe(), secrets));
  ::_exit(status);
}

}  // namespace corvane::run
