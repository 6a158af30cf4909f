// One ODBC statement: binds general values as parameters, executes, and reads a whole result
// with its column metadata. Freed when the object goes, so no cursor stays open on the server.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/value.h"
#include "data/odbc/odbc_handle.h"
#include "data/update_plan.h"

namespace corvane::data {

struct OdbcResult {
  std::vector<ColumnInfo> columns;
  std::vector<SQLSMALLINT> sql_types;  // per column, as the driver described it
  std::vector<std::string> catalogs;   // per column; read for TINYINT columns only
  std::deque<std::vector<Value>> rows;
};

class OdbcStatement {
 public:
  // `query_timeout`: the driver's limit on each execution (SQL_ATTR_QUERY_TIMEOUT).
  OdbcStatement(const OdbcHandle& connection, std::chrono::seconds query_timeout);

  // Binds `parameters` to the '?' placeholders in order (Booleans as 1/0, or as bits where
  // `bit_targets[i]` is set) and runs `sql`.
  void Execute(const std::string& sql, std::span<const Value> parameters,
               const std::vector<bool>& bit_targets = {});
  // Rows changed by the last UPDATE.
  long long RowCount();
  // The result of the execution, read to its end: column names, base tables and columns, and
  // values by SQL type (dates and timestamps as DateTime, bit as Boolean, integers as int64,
  // other numbers as double, anything else as text).
  OdbcResult ReadAll();
  // Reads the text columns `columns` (1-based) of every row, for catalog results.
  std::vector<std::vector<std::string>> ReadText(std::span<const SQLUSMALLINT> columns);

  const OdbcHandle& handle() const { return statement_; }

 private:
  void Bind(SQLUSMALLINT number, const Value& value, bool bit_target);
  Value ReadColumn(SQLUSMALLINT column, SQLSMALLINT sql_type);
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
