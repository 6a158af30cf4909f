#include "data/basic_row_set.h"

#include "base/ascii.h"
#include "data/data_error.h"

namespace corvane::data {

BasicRowSet::BasicRowSet(std::vector<ColumnInfo> columns)
    : columns_(std::move(columns)), row_(columns_.size()), changes_(columns_.size()) {}

void BasicRowSet::Start() {
  const bool has_row = NextRow(row_);
  eof_ = !has_row;
  bof_ = !has_row;
}

bool BasicRowSet::NextRow(std::vector<Value>& row) {
  if (!buffered_.empty()) {
    row = std::move(buffered_.front());
    buffered_.pop_front();
    return true;
  }
  if (engine_released_) return false;
  if (FetchRow(row)) return true;
  ReleaseEngine();
  return false;
}

void BasicRowSet::ReleaseEngine() noexcept {
  if (engine_released_) return;
  engine_released_ = true;
  Release();
}

void BasicRowSet::TakeRemainingRows() {
  std::vector<Value> row(columns_.size());
  while (!engine_released_ && FetchRow(row)) {
    buffered_.push_back(std::move(row));
    row.assign(columns_.size(), Value());
  }
  ReleaseEngine();
}

bool BasicRowSet::eof() const {
  CheckOpen();
  return eof_;
}

bool BasicRowSet::bof() const {
  CheckOpen();
  return bof_;
}

Value BasicRowSet::Field(std::string_view column) const {
  CheckOpen();
  const std::size_t i = IndexOf(column);
  CheckCurrentRow(column);
  return row_[i];
}

bool BasicRowSet::HasColumn(std::string_view column) const {
  CheckOpen();
  return Find(column) < columns_.size();
}

void BasicRowSet::CheckUpdatable(std::string_view column) {
  CheckOpen();
  CheckWritable(columns_, IndexOf(column),
                [this](const std::string& schema, const std::string& table) {
                  return PrimaryKey(schema, table);
                });
}

void BasicRowSet::SetField(std::string_view column, Value value) {
  CheckOpen();
  const std::size_t i = IndexOf(column);
  CheckCurrentRow(column);
  changes_[i] = std::move(value);
}

void BasicRowSet::Update() {
  CheckOpen();
  CheckConnection();
  CheckCurrentRow("");
  bool any = false;
  for (const auto& change : changes_) any = any || change.has_value();
  if (!any) return;
  const auto writes = PlanUpdate(columns_, row_, changes_,
                                 [this](const std::string& schema, const std::string& table) {
                                   return PrimaryKey(schema, table);
                                 });
  for (const auto& write : writes) {
    if (WriteRow(write) == 0) {
      std::string key;
      for (const auto& [name, value] : write.key) {
        key += (key.empty() ? "" : ", ") + name;
      }
      ThrowRowCannotBeLocated("no row of table " + write.table + " has this " + key +
                              " any more (deleted or changed by someone else)");
    }
  }
  for (std::size_t i = 0; i < changes_.size(); ++i) {
    if (changes_[i]) {
      row_[i] = changes_[i]->is_empty() ? Value::Null() : std::move(*changes_[i]);
      changes_[i].reset();
    }
  }
}

void BasicRowSet::MoveNext() {
  CheckOpen();
  CheckConnection();
  if (eof_) {
    ThrowDatabaseError(errnum::kNoCurrentRow,
                       "Cannot move to the next row: the row set is at its end");
  }
  Update();
  bof_ = false;
  if (!NextRow(row_)) eof_ = true;
}

void BasicRowSet::Close() {
  CheckOpen();
  closed_ = true;
  buffered_.clear();
  ReleaseEngine();
}

std::size_t BasicRowSet::Find(std::string_view column) const {
  // A few dozen columns at most: a look along them costs less than building an index for each
  // row set (a lookup's row set lives for one row).
  std::size_t i = 0;
  while (i < columns_.size() && !EqualsNoCase(columns_[i].name, column)) ++i;
  return i;
}

std::size_t BasicRowSet::IndexOf(std::string_view column) const {
  const std::size_t found = Find(column);
  if (found == columns_.size()) {
    ThrowDatabaseError(
        errnum::kItemNotFound,
        "Item cannot be found: the query returns no column '" + std::string(column) + "'");
  }
  return found;
}

void BasicRowSet::CheckOpen() const {
  if (closed_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the row set is closed");
  }
}

void BasicRowSet::CheckCurrentRow(std::string_view column) const {
  if (eof_ || bof_) {
    std::string what = column.empty() ? std::string() : " (column " + std::string(column) + ")";
    ThrowDatabaseError(errnum::kNoCurrentRow,
                       "There is no current row: the row set is at its end" + what);
  }
}

}  // namespace corvane::data
