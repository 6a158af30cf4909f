// The wall clock, behind a seam so tests can pin "today" and "now".
#pragma once

#include "base/date_time.h"

namespace corvane {

class Clock {
 public:
  virtual ~Clock() = default;
  // The current local date and time, to the second.
  virtual DateTime Now() const = 0;
  // The current local date at midnight.
  DateTime Today() const { return Now().date_only(); }
};

// Local time of the machine (the TZ environment, else /etc/localtime).
class SystemClock final : public Clock {
 public:
  DateTime Now() const override;
};

// Always the same instant, or whatever the test sets.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(DateTime now) : now_(now) {}
  DateTime Now() const override { return now_; }
  void Set(DateTime now) { now_ = now; }

 private:
  DateTime now_;
};

}  // namespace corvane
