// Where the run is: the stage or pass and the key of the row it is handling. The top of the run
// names it in the error report, so a failure says where it happened without anything below the
// top catching it.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

class RunTrace {
 public:
  // A new stage; forgets the row of the previous one.
  void Stage(std::string_view name) {
    stage_ = name;
    row_.clear();
  }
  // The row being handled, e.g. "TourID 17".
  void Row(std::string row) { row_ = std::move(row); }
  void ClearRow() { row_.clear(); }

  const std::string& stage() const { return stage_; }
  const std::string& row() const { return row_; }
  // "CheckTourDrops, row TourID 17", or "" before the first stage.
  std::string Describe() const {
    if (row_.empty()) return stage_;
    return stage_ + ", row " + row_;
  }

 private:
  std::string stage_;
  std::string row_;
};

}  // namespace corvane
