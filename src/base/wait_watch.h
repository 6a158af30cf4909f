// Limits the program keeps on its own waits, for when a peer cannot keep its own: a frozen
// database server cannot fire its statement timeout, and a cancel request goes to a postmaster
// that may be frozen too. The run's watchdog (run/watchdog.h) watches; without one (stages run
// in-process by tests) a wait is bounded only by the engine's own limits.
#pragma once

#include <chrono>

namespace corvane {

// One watched wait: what it is and when it must have ended.
struct WatchedWait {
  std::chrono::steady_clock::time_point deadline{};  // epoch: nothing is watched
  std::chrono::milliseconds limit{0};
  const char* what = nullptr;  // a literal, read when the limit passes: "the database statement"
};

class WaitWatch {
 public:
  virtual ~WaitWatch() = default;
  // From now on `wait` is watched; returns what was watched before, for Restore. Never throws.
  virtual WatchedWait Watch(const WatchedWait& wait) noexcept = 0;
  virtual void Restore(const WatchedWait& previous) noexcept = 0;
};

// A library's or server's own limit on a wait comes this much before the program's, so that a
// peer that is alive ends a slow wait with its own message; the program's limit is the hard one.
inline constexpr std::chrono::seconds kOwnLimitMargin{2};

// Watches one wait for as long as it lives; nested waits restore the outer one when they end.
// `limit` is the limit reports name; the watch ends the wait `grace` after it, where a library
// keeps `limit` itself and should be the one to report.
class BoundedWait {
 public:
  BoundedWait(WaitWatch* watch, std::chrono::milliseconds limit, const char* what,
              std::chrono::milliseconds grace = std::chrono::milliseconds(0)) noexcept
      : watch_(watch) {
    if (watch_ != nullptr) {
      previous_ = watch_->Watch({std::chrono::steady_clock::now() + limit + grace, limit, what});
    }
  }
  ~BoundedWait() {
    if (watch_ != nullptr) watch_->Restore(previous_);
  }
  BoundedWait(const BoundedWait&) = delete;
  BoundedWait& operator=(const BoundedWait&) = delete;

 private:
  WaitWatch* watch_;
  WatchedWait previous_;
};

}  // namespace corvane
