// One ODBC statement handle: prepares or runs a text with general values bound to its '?'
// placeholders, describes its result and reads it row by row. Freed when the object goes, so no
// cursor stays open on the server.
#pragma once

#include <chrono>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/value.h"
#include "data/odbc/odbc_handle.h"
#include "data/update_plan.h"

namespace corvane::data {

// A result's columns as the driver describes them.
struct OdbcColumns {
  std::vector<ColumnInfo> columns;
  std::vector<SQLSMALLINT> sql_types;  // per column, a text flag already read as SQL_BIT
  std::vector<std::string> catalogs;   // per column; asked for TINYINT columns only
};

class OdbcStatement {
 public:
  // `query_timeout`: the driver's limit on each execution (SQL_ATTR_QUERY_TIMEOUT).
  OdbcStatement(const OdbcHandle& connection, std::chrono::seconds query_timeout);

  // Prepares `sql` for Execute.
  void Prepare(const std::string& sql);
  // Binds `parameters` to the '?' placeholders in order (Booleans as 1/0, or as bits where
  // `bit_targets[i]` is set) and runs the prepared text.
  void Execute(std::span<const Value> parameters, const std::vector<bool>& bit_targets = {});
  // The same for `sql`, without preparing it first.
  void ExecuteDirect(const std::string& sql, std::span<const Value> parameters,
                     const std::vector<bool>& bit_targets = {});
  // Rows changed by the last execution.
  long long RowCount();
  // The columns of the pending result. A character column whose type name is
  // `text_flag_type_name` (not empty) is a truth value.
  OdbcColumns Describe(std::string_view text_flag_type_name);
  // Moves to the next row of the pending result; false after the last.
  bool Fetch();
  // The current row's value of `column` (1-based) by its SQL type: dates and timestamps as
  // DateTime, bit as Boolean, integers as int64, other numbers as double, anything else as text.
  Value ReadColumn(SQLUSMALLINT column, SQLSMALLINT sql_type);
  // Reads the text columns `columns` (1-based) of every row, for catalog results.
  std::vector<std::vector<std::string>> ReadText(std::span<const SQLUSMALLINT> columns);
  // Ends the pending result, if any, keeping what was prepared.
  void CloseCursor() noexcept;

  const OdbcHandle& handle() const { return statement_; }
  const std::string& sql() const { return sql_; }

 private:
  void Bind(std::span<const Value> parameters, const std::vector<bool>& bit_targets);
  void BindOne(SQLUSMALLINT number, const Value& value, bool bit_target);
  std::string ReadWideText(SQLUSMALLINT column, bool& is_null);

  OdbcHandle statement_;
  // Parameter buffers must stay put until execution: a deque never moves its elements.
  struct Buffer {
    std::vector<SQLWCHAR> text;
    SQLBIGINT integer = 0;
    SQLINTEGER small = 0;
    unsigned char bit = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    SQLLEN indicator = 0;
  };
  std::deque<Buffer> buffers_;
  std::string sql_;
};

}  // namespace corvane::data
