// A row set over an SQLite query. Rows are stepped lazily, one current row at a time, so a pass
// over many rows keeps memory flat; when anything is about to write on the connection, the rest
// of the rows is read into the row set's own buffer first (TakeRemainingRows), so the write
// cannot show up in (or disturb) the iteration.
//
// The columns are described only after the first step: a statement prepared (or cached) before
// another client changed a table is compiled again by that step, and its columns may then differ
// from what the stale form would have reported.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "data/basic_row_set.h"
#include "data/sqlite/sqlite_database.h"
#include "data/sqlite/sqlite_values.h"

namespace corvane::data {

class SqliteRowSet : public BasicRowSet {
 public:
  // Runs `statement` (prepared from `sql`, taken from `database`) with `parameters` bound to
  // its '?' placeholders, and reads the first row.
  SqliteRowSet(std::shared_ptr<SqliteDatabase> database, std::string sql,
               SqliteStatementPtr statement, std::span<const Value> parameters);
  ~SqliteRowSet() override;

 protected:
  bool FetchRow(std::vector<Value>& row) override;
  std::vector<std::string> PrimaryKey(const std::string& schema, const std::string& table) override;
  long long WriteRow(const TableWrite& write) override;
  void Release() noexcept override;
  void CheckConnection() const override;

 private:
  // Runs after FirstStep: `first_step` is its result.
  SqliteRowSet(int first_step, std::shared_ptr<SqliteDatabase>&& database, std::string&& sql,
               SqliteStatementPtr&& statement);
  // Binds the parameters and takes the first step; gives the step's result.
  static int FirstStep(SqliteDatabase& database, const std::string& sql, sqlite3_stmt* statement,
                       std::span<const Value> parameters);
  static std::vector<ColumnInfo> Describe(sqlite3_stmt* statement);
  bool Step(std::vector<Value>& row);
  void StopStatement() noexcept;

  std::shared_ptr<SqliteDatabase> database_;
  std::string sql_;
  SqliteStatementPtr statement_;  // null once all rows are stepped
  std::vector<SqliteColumnKind> kinds_;
  int first_step_;  // the result of the first step until Step reads that row; then kStepTaken
  static constexpr int kStepTaken = -1;
};

}  // namespace corvane::data
