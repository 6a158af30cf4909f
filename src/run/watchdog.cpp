#include "run/watchdog.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/error.h"
#include "run/report.h"

namespace corvane::run {

namespace {

using std::chrono::steady_clock;

// The watchdog looks at the clock at least this often; a limit is kept to within it.
constexpr std::chrono::milliseconds kLookInterval{200};

[[noreturn]] void ThrowCannotStart(const std::string& what) {
  const int error = errno;
  throw Error(
      ErrorKind::kSystem, ForeignCode::System(error),
      "System error: the run's watchdog cannot start: " + what + ": " + std::strerror(error));
}

std::string SignalName(int signal) {
  if (signal >= SIGRTMIN && signal <= SIGRTMAX) {
    return signal == SIGRTMIN ? "SIGRTMIN" : "SIGRTMIN+" + std::to_string(signal - SIGRTMIN);
  }
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? "SIG" + std::string(name) : "signal " + std::to_string(signal);
}

}  // namespace

sigset_t Watchdog::EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                           SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPOLL, SIGPWR}) {
    sigaddset(&set, signal);
  }
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
  return set;
}

void Watchdog::TakeOverSignals() {
  const sigset_t set = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

Watchdog::Watchdog(const RunTrace& trace, const Output& report, std::chrono::seconds run_limit)
    : trace_(trace),
      report_(report),
      start_(steady_clock::now()),
      signals_([] {
        const sigset_t set = EndingSignals();
        return ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
      }()),
      stop_(::eventfd(0, EFD_CLOEXEC)),
      run_limit_(run_limit) {
  if (!signals_.valid()) ThrowCannotStart("no signalfd for the termination signals");
  if (!stop_.valid()) ThrowCannotStart("no eventfd");
  try {
    thread_ = std::thread([this] { Loop(); });
  } catch (const std::system_error& error) {
    errno = error.code().value();
    ThrowCannotStart("no thread");
  }
}

Watchdog::~Watchdog() {
  (void)eventfd_write(stop_.get(), 1);
  if (thread_.joinable()) thread_.join();
}

void Watchdog::SetRunLimit(std::chrono::seconds run_limit) {
  const std::lock_guard lock(mutex_);
  run_limit_ = run_limit;
}

void Watchdog::SetEndNotice(std::function<GuardedText(const Outcome&)> notice) {
  const std::lock_guard lock(mutex_);
  notice_ = std::move(notice);
}

WatchedWait Watchdog::Watch(const WatchedWait& wait) noexcept {
  std::unique_lock lock(mutex_);
  if (phase_ == Phase::kEnding) WaitForTheEnd(lock);
  const WatchedWait previous = wait_;
  wait_ = wait;
  return previous;
}

void Watchdog::Restore(const WatchedWait& previous) noexcept {
  const std::lock_guard lock(mutex_);
  wait_ = previous;
}

void Watchdog::BeginTeardown(Outcome outcome) {
  std::unique_lock lock(mutex_);
  if (phase_ == Phase::kEnding) WaitForTheEnd(lock);
  phase_ = Phase::kTearingDown;
  outcome_ = std::move(outcome);
  phase_deadline_ = steady_clock::now() + kTeardownLimit;
}

int Watchdog::Conclude(const Outcome& outcome) {
  {
    std::unique_lock lock(mutex_);
    if (phase_ == Phase::kEnding) WaitForTheEnd(lock);
    phase_ = Phase::kConcluded;
    outcome_ = outcome;
    phase_deadline_ = steady_clock::now() + kNoticeLimit;
  }
  Announce(outcome);
  return outcome.status;
}

void Watchdog::WaitForTheEnd(std::unique_lock<std::mutex>& lock) {
  while (true) never_.wait(lock);
}

bool Watchdog::ClaimDecision(std::unique_lock<std::mutex>&) {
  if (phase_ == Phase::kConcluded || phase_ == Phase::kEnding) return false;
  phase_ = Phase::kEnding;
  return true;
}

Outcome Watchdog::Report(const Error& error, int status) {
  return Outcome{status, ReportLine(error, &trace_, report_.guard())};
}

void Watchdog::Announce(const Outcome& outcome) {
  // Nowhere left to write to: the exit status still tells.
  (void)report_.Write(outcome.report, Priority::kError);
  reported_ = true;
  std::function<GuardedText(const Outcome&)> notice;
  {
    const std::lock_guard lock(mutex_);
    notice = notice_;
  }
  if (notice) (void)report_.Write(notice(outcome), Priority::kWarning);
}

bool Watchdog::SignalWithin(std::chrono::milliseconds limit) {
  pollfd ready{signals_.get(), POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return false;
  signalfd_siginfo info{};
  return ::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

void Watchdog::EndRun(const Outcome& outcome) {
  // Telling the monitors may wait on a server or a file system; the end waits for it no longer
  // than its limit, and whichever ends first ends the process.
  try {
    std::thread([this, outcome] {
      Announce(outcome);
      ::_exit(outcome.status);
    }).detach();
  } catch (const std::system_error&) {
    Announce(outcome);  // no thread to spare: tell them here
    ::_exit(outcome.status);
  }
  // Once the report line is out, a signal cuts the notice short; the decision stands.
  const auto deadline = steady_clock::now() + kNoticeLimit;
  while (steady_clock::now() < deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    if (SignalWithin(std::clamp(left, std::chrono::milliseconds(0), kLookInterval)) && reported_) {
      break;
    }
  }
  ::_exit(outcome.status);
}

void Watchdog::Loop() {
  while (true) {
    pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(kLookInterval.count()));
    if (ready > 0 && (fds[1].revents & POLLIN) != 0) return;
    int signal = 0;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        signal = static_cast<int>(info.ssi_signo);
      }
    }
    const auto now = steady_clock::now();
    std::unique_lock lock(mutex_);
    if (phase_ == Phase::kConcluded) {
      // The main thread decided and is telling the monitors: a signal ends that at once, and the
      // decided status stands.
      if ((signal != 0 && reported_) || now >= phase_deadline_) ::_exit(outcome_.status);
      continue;
    }
    std::optional<Outcome> end;
    if (signal != 0) {
      Outcome stopped =
          Report(Error(ErrorKind::kSystem, errnum::kUserInterrupt,
                       "User interrupt occurred: the run was stopped by " + SignalName(signal)),
                 exit_status::kSignalBase + signal);
      // While tearing down, a failure already known is the one to report.
      const bool failed = phase_ == Phase::kTearingDown && outcome_.status != exit_status::kOk;
      end = failed ? outcome_ : std::move(stopped);
    } else if (phase_ == Phase::kTearingDown) {
      if (now >= phase_deadline_ || now >= start_ + run_limit_) end = outcome_;
    } else if (wait_.what != nullptr && now >= wait_.deadline) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait_.limit).count();
      end = Report(Error(ErrorKind::kSystem, errnum::kQueryTimeout,
                         "Timeout expired: " + std::string(wait_.what) + " did not end within " +
                             std::to_string(seconds) + " seconds"),
                   exit_status::kTimedOut);
    } else if (now >= start_ + run_limit_) {
      end = Report(Error(ErrorKind::kSystem, errnum::kQueryTimeout,
                         "Timeout expired: the run did not end within " +
                             std::to_string(run_limit_.count()) + " seconds (Run Timeout)"),
                   exit_status::kTimedOut);
    }
    if (end && ClaimDecision(lock)) {
      lock.unlock();
      EndRun(*end);
    }
  }
}

}  // namespace corvane::run
