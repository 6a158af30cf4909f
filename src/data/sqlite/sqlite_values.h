// How SQLite values become general values and back. SQLite stores a type per value, not per
// column, so the declared column type decides the reading: dates are kept as ISO-8601 text and
// Booleans as 0/1.
#pragma once

#include <string_view>

#include "base/value.h"

struct sqlite3_stmt;

namespace corvane::data {

enum class SqliteColumnKind { kByStorage, kDate, kBoolean, kNumber, kText };

// From the declared type ("DATETIME", "BIT", "DECIMAL(10,2)", ...); no type: by storage class.
SqliteColumnKind SqliteKindOfDeclaredType(std::string_view declared_type);

// The value of column `i` of the statement's current row, read as `kind` says: dates from ISO
// text (other text stays text), Booleans from numbers, numbers as int64 for integer storage and
// double otherwise, NULL as Null.
Value ReadSqliteColumn(sqlite3_stmt* statement, int i, SqliteColumnKind kind);

// Binds `value` to parameter `i` (1-based): Booleans as 1/0, dates as ISO text ('YYYY-MM-DD' at
// midnight, else 'YYYY-MM-DD HH:MM:SS'), empty and Null as NULL. Returns SQLite's result code.
int BindSqliteValue(sqlite3_stmt* statement, int i, const Value& value);

}  // namespace corvane::data
