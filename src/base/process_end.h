// Ending the process. Whoever ends the run (the single-instance guard, the window's load
// handler, CloseAndEnd) calls EndProcess; it unwinds to the top of the run, which returns the
// status from main. Nothing but the top catches ProcessEnded, so no further stage or handler
// runs, and tests observe the end instead of dying.
#pragma once

namespace corvane {

class ProcessEnded {
 public:
  explicit ProcessEnded(int status) : status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

[[noreturn]] inline void EndProcess(int status) {
  throw ProcessEnded(status);
}

}  // namespace corvane
