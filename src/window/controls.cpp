#include "window/controls.h"

namespace corvane::window {

int Timer::Advance(std::chrono::milliseconds elapsed) {
  if (!enabled_ || interval_.count() <= 0) return 0;
  pending_ += elapsed;
  int ticks = 0;
  while (pending_ >= interval_) {
    pending_ -= interval_;
    on_tick_();
    ++ticks;
  }
  return ticks;
}

}  // namespace corvane::window
