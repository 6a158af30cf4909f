// The run's watchdog. It ends the process when a limit passes or a termination signal comes,
// with one report line naming the stage and the row, so that a frozen server or a stop request
// never leaves a run hanging for ever, holding its single-instance lock, or ending without a
// word. The kernel drops the lock with the process, so the next run starts as usual.
//
// It works on a thread of its own that only reads the trace and writes the report: a run never
// marks a row before its messages were accepted, so ending the process at any point loses
// nothing that the next run does not send again.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/file_descriptor.h"
#include "base/trace.h"
#include "base/wait_watch.h"

namespace corvane::run {

class Watchdog final : public WaitWatch {
 public:
  // Blocks SIGTERM, SIGINT and SIGHUP in the calling thread, and so in every thread started
  // after it (the watchdog takes them from a signalfd), and ignores SIGPIPE: a peer that goes
  // away is an error to report, not a silent death. Call first in main, before any thread.
  static void TakeOverSignals();

  // Starts watching: the whole run must end within `run_limit` from now. Reports are written to
  // `report_fd`. Fails (kSystem) when the signalfd or the thread cannot be made.
  Watchdog(const RunTrace& trace, int report_fd, std::chrono::seconds run_limit);
  ~Watchdog();  // stops watching; the process goes on
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // The whole run's limit, counted from the start.
  void SetRunLimit(std::chrono::seconds run_limit);
  // Texts that a report must never show (passwords).
  void SetSecrets(std::vector<std::string> secrets);

  WatchedWait Watch(const WatchedWait& wait) noexcept override;
  void Restore(const WatchedWait& previous) noexcept override;

 private:
  void Loop();
  // Writes the report line and ends the process with `status`.
  [[noreturn]] void EndRun(long number, const std::string& description, int status);

  const RunTrace& trace_;
  const int report_fd_;
  const std::chrono::steady_clock::time_point start_;
  FileDescriptor signals_;  // SIGTERM, SIGINT, SIGHUP
  FileDescriptor stop_;     // an eventfd: written once, by the destructor

  std::mutex mutex_;  // guards what follows
  std::chrono::seconds run_limit_;
  WatchedWait wait_;
  std::vector<std::string> secrets_;

  std::thread thread_;  // last: started once everything it reads is in place
};

}  // namespace corvane::run
