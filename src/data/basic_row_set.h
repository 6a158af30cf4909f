// What every engine's row set shares: the current row, the end-of-rows and before-first-row
// flags, reading and holding field values by column name, a buffer for rows taken from the
// engine early, and turning an update into writes of base-table rows. An engine supplies the
// rows, the primary keys and the write itself.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/value.h"
#include "data/connection.h"
#include "data/update_plan.h"

namespace corvane::data {

class BasicRowSet : public RowSet {
 public:
  ~BasicRowSet() override = default;
  BasicRowSet(const BasicRowSet&) = delete;
  BasicRowSet& operator=(const BasicRowSet&) = delete;

  bool eof() const override;
  bool bof() const override;
  Value Field(std::string_view column) const override;
  bool HasColumn(std::string_view column) const override;
  void CheckUpdatable(std::string_view column) override;
  void SetField(std::string_view column, Value value) override;
  // No held change: nothing is written.
  void Update() override;
  // A held change is written first, as a client cursor does when it leaves an edited row.
  void MoveNext() override;
  // Held changes that were not updated are dropped.
  void Close() override;

  // Reads the rest of the rows into the row set's own buffer and lets go of what the engine
  // holds for them (a running statement, a pending result), so that the engine may write, or
  // run that statement again, without disturbing the iteration.
  void TakeRemainingRows();

 protected:
  explicit BasicRowSet(std::vector<ColumnInfo> columns);
  // Reads the first row. An engine's constructor calls it once it can fetch.
  void Start();

  const std::vector<ColumnInfo>& columns() const { return columns_; }

  // The engine's next row into `row` (sized to the columns); false after the last one. Not
  // called again once it gave false or Release() ran.
  virtual bool FetchRow(std::vector<Value>& row) = 0;
  virtual std::vector<std::string> PrimaryKey(const std::string& schema,
                                              const std::string& table) = 0;
  // Writes one base-table row; returns the number of rows the engine changed.
  virtual long long WriteRow(const TableWrite& write) = 0;
  // Frees what the engine holds for the rows; runs once, through ReleaseEngine().
  virtual void Release() noexcept = 0;
  // Runs Release() unless it ran. The destructor of an engine's row set calls it.
  void ReleaseEngine() noexcept;
  // Fails when the connection under the row set is closed.
  virtual void CheckConnection() const {}

 private:
  // The next row: from the buffer, else from the engine.
  bool NextRow(std::vector<Value>& row);
  // The first column of that name (any letter case); columns().size() when none.
  std::size_t Find(std::string_view column) const;
  std::size_t IndexOf(std::string_view column) const;
  void CheckOpen() const;
  void CheckCurrentRow(std::string_view column) const;

  std::vector<ColumnInfo> columns_;
  std::vector<Value> row_;
  std::vector<std::optional<Value>> changes_;
  std::deque<std::vector<Value>> buffered_;
  bool engine_released_ = false;
  bool eof_ = true;
  bool bof_ = true;
  bool closed_ = false;
};

}  // namespace corvane::data
