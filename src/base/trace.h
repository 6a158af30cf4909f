// Where the run is: the stage or pass and the key of the row it is handling. The top of the run
// names it in the error report, so a failure says where it happened without anything below the
// top catching it. The run's watchdog reads it from its own thread when a limit passes, hence
// the lock.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "base/guarded_text.h"

namespace corvane {

class RunTrace {
 public:
  // A new stage; forgets the row of the previous one. Its name is the program's own words.
  void Stage(Own name) {
    const std::lock_guard lock(mutex_);
    stage_ = name;
    row_.clear();
  }
  // The row being handled, e.g. "TourID 17".
  void Row(std::string row) {
    const std::lock_guard lock(mutex_);
    row_ = std::move(row);
  }
  void ClearRow() {
    const std::lock_guard lock(mutex_);
    row_.clear();
  }

  Own stage() const {
    const std::lock_guard lock(mutex_);
    return stage_;
  }
  std::string row() const {
    const std::lock_guard lock(mutex_);
    return row_;
  }
  // The stage and the row, read together.
  std::pair<Own, std::string> Place() const {
    const std::lock_guard lock(mutex_);
    return {stage_, row_};
  }
  // "CheckTourDrops, row TourID 17", or "" before the first stage.
  std::string Describe() const {
    const std::lock_guard lock(mutex_);
    if (row_.empty()) return std::string(stage_.text());
    return std::string(stage_.text()) + ", row " + row_;
  }

 private:
  mutable std::mutex mutex_;
  Own stage_{""};
  std::string row_;
};

}  // namespace corvane
