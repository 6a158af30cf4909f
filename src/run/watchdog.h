// The process's watchdog: every wait of the process, from start-up to the last QUIT, ends within
// its limit, and every termination signal is heard, also when a server is frozen and can keep
// none of its own limits. It is born in main before anything can wait and dies after the last
// wait; the kernel drops the single-instance lock with the process, so the next run starts as
// usual.
//
// What it guarantees:
// - One decision, one line. A run ends once, by whichever side decides first: the main thread
//   (Conclude, with the run's outcome) or the watchdog (a limit passed, a signal came). The side
//   that decides writes the one report line, if any, and tells the monitors; the other side does
//   nothing more. Nothing but the decider writes a report line.
// - Nothing starts after the decision. Every wait that hands a message to a mail server or
//   writes a row is watched (Watch), and Watch never returns once the watchdog has decided: no
//   message is handed to a server and no row is marked after it. What was under way at the
//   decision may still be accepted; a row is marked only after its messages were accepted, so an
//   alert is sent at least once over runs and never lost.
// - Tearing down is bounded too. Once the run has its outcome (BeginTeardown), closing the
//   database and the mail server's QUIT get kTeardownLimit; past it the process ends with that
//   outcome, exactly as if tearing down had finished: an unanswered QUIT changes neither the
//   result nor the status. A termination signal still ends the process at once.
// - Every signal that would end the process is heard (EndingSignals): it ends the run with one
//   report line and status 128 + its number, the monitors told. Once the decider's report line
//   is out, a signal cuts telling the monitors short: the process ends at once with the decided
//   status.
#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/error.h"
#include "base/file_descriptor.h"
#include "base/output.h"
#include "base/trace.h"
#include "base/wait_watch.h"

namespace corvane::run {

// What a run or command ended with: its exit status and, for a failure, its one report line
// (with its line end). An empty report: nothing to say on stderr.
struct Outcome {
  int status = 0;
  GuardedText report;
};

class Watchdog final : public WaitWatch {
 public:
  // Closing the database and saying QUIT, once the run has its outcome.
  static constexpr std::chrono::seconds kTeardownLimit{5};
  // Telling the monitors, once the run is decided (their own requests are bounded below it).
  static constexpr std::chrono::seconds kNoticeLimit{15};

  // Every signal whose default action ends the process but for the faults a thread causes
  // itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT) and SIGPIPE: SIGHUP,
  // SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT, SIGVTALRM, SIGPROF, SIGXCPU,
  // SIGXFSZ, SIGPOLL, SIGPWR and the real-time signals.
  static sigset_t EndingSignals();
  // Blocks EndingSignals in the calling thread, and so in every thread started after it (the
  // watchdog takes them from a signalfd), and ignores SIGPIPE: a peer that goes away is an
  // error to report, not a silent death. Call first in main, before any thread.
  static void TakeOverSignals();

  // Starts watching: the whole process must end within `run_limit` from now. Reports go to
  // `report`, masked by its guard. Fails (kSystem) when the signalfd or the thread cannot be
  // made.
  Watchdog(const RunTrace& trace, const Output& report, std::chrono::seconds run_limit);
  ~Watchdog();  // stops watching; call only after Conclude
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // The whole run's limit, counted from the start.
  void SetRunLimit(std::chrono::seconds run_limit);
  // What the decider does after writing its report line, on its own thread: tell the monitors.
  // Returns what to add on the report's output (warning lines, or nothing). Must not throw;
  // bounded by kNoticeLimit.
  void SetEndNotice(std::function<GuardedText(const Outcome&)> notice);

  // Never returns once the watchdog has decided.
  WatchedWait Watch(const WatchedWait& wait) noexcept override;
  void Restore(const WatchedWait& previous) noexcept override;

  // The run has `outcome`; what is left is tearing down, bounded as the header says. Never
  // returns if the watchdog has decided already.
  void BeginTeardown(Outcome outcome);
  // The main thread's decision: writes `outcome`'s report line, tells the monitors and returns
  // the status to exit with. Never returns if the watchdog has decided already.
  int Conclude(const Outcome& outcome);

 private:
  // Running -> tearing down -> concluded by the main thread; or, from either of the first two,
  // ending: the watchdog decided and is ending the process.
  enum class Phase { kRunning, kTearingDown, kConcluded, kEnding };

  void Loop();
  // Under the lock: claims the decision for the watchdog's own thread and returns true, or
  // returns false when the main thread has decided already.
  bool ClaimDecision(std::unique_lock<std::mutex>& lock);
  // Writes the report line and runs the notice; then the process ends with `outcome.status`.
  [[noreturn]] void EndRun(const Outcome& outcome);
  void Announce(const Outcome& outcome);
  Outcome Report(const Error& error, int status);
  // Waits up to `limit` for a signal on the signalfd; true when one came.
  bool SignalWithin(std::chrono::milliseconds limit);
  // Blocks the calling (main) thread for good: the watchdog is ending the process.
  [[noreturn]] void WaitForTheEnd(std::unique_lock<std::mutex>& lock);

  const RunTrace& trace_;
  const Output& report_;
  const std::chrono::steady_clock::time_point start_;
  FileDescriptor signals_;  // EndingSignals
  FileDescriptor stop_;     // an eventfd: written once, by the destructor

  std::mutex mutex_;  // guards what follows
  std::condition_variable never_;
  Phase phase_ = Phase::kRunning;
  std::chrono::seconds run_limit_;
  WatchedWait wait_;
  std::function<GuardedText(const Outcome&)> notice_;
  Outcome outcome_;                                        // from BeginTeardown or Conclude
  std::atomic<bool> reported_{false};  // the decider's report line is out: a signal may end it
  std::chrono::steady_clock::time_point phase_deadline_{};  // of tearing down or of the notice

  std::thread thread_;  // last: started once everything it reads is in place
};

}  // namespace corvane::run
