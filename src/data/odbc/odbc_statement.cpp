#include "data/odbc/odbc_statement.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "data/data_error.h"

namespace corvane::data {

namespace {

std::string ColumnText(const OdbcHandle& statement, SQLUSMALLINT column, SQLUSMALLINT field) {
  SQLWCHAR text[256] = {};
  SQLSMALLINT length = 0;
  const SQLRETURN ret =
      SQLColAttributeW(statement.get(), column, field, text, sizeof text, &length, nullptr);
  // Drivers that cannot tell the base table leave the column read-only: not a failure here, an
  // update of such a column fails with "row cannot be located".
  if (!Succeeded(ret) || ret == SQL_NO_DATA || length <= 0) return {};
  const auto chars = std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR),
                                           std::size(text) - 1);
  return FromOdbcText(text, chars);
}

bool IsCharacterType(SQLSMALLINT type) {
  return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR || type == SQL_WCHAR ||
         type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
}

DateTime FromParts(int year, int month, int day, int hour, int minute, int second) {
  return DateTime::FromParts(year, month, day, hour, minute, second);
}

}  // namespace

OdbcStatement::OdbcStatement(const OdbcHandle& connection, std::chrono::seconds query_timeout)
    : statement_(SQL_HANDLE_STMT, connection.get(), SQL_HANDLE_DBC) {
  const auto seconds = static_cast<std::uintptr_t>(std::max<long long>(query_timeout.count(), 1));
  statement_.Check(SQLSetStmtAttrW(statement_.get(), SQL_ATTR_QUERY_TIMEOUT,
                                   reinterpret_cast<SQLPOINTER>(seconds), SQL_IS_UINTEGER),
                   "setting the query timeout");
}

void OdbcStatement::Prepare(const std::string& sql) {
  sql_ = sql;
  std::vector<SQLWCHAR> text = ToOdbcText(sql);
  statement_.Check(SQLPrepareW(statement_.get(), text.data(), SQL_NTS),
                   "preparing the query: " + sql);
}

void OdbcStatement::Execute(std::span<const Value> parameters,
                            const std::vector<bool>& bit_targets) {
  Bind(parameters, bit_targets);
  statement_.Check(SQLExecute(statement_.get()), "running the query: " + sql_);
}

void OdbcStatement::ExecuteDirect(const std::string& sql, std::span<const Value> parameters,
                                  const std::vector<bool>& bit_targets) {
  sql_ = sql;
  Bind(parameters, bit_targets);
  std::vector<SQLWCHAR> text = ToOdbcText(sql);
  statement_.Check(SQLExecDirectW(statement_.get(), text.data(), SQL_NTS),
                   "running the query: " + sql);
}

void OdbcStatement::Bind(std::span<const Value> parameters, const std::vector<bool>& bit_targets) {
  CloseCursor();
  statement_.Check(SQLFreeStmt(statement_.get(), SQL_RESET_PARAMS), "resetting the parameters");
  buffers_.clear();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    BindOne(static_cast<SQLUSMALLINT>(i + 1), parameters[i],
            i < bit_targets.size() && bit_targets[i]);
  }
}

void OdbcStatement::BindOne(SQLUSMALLINT number, const Value& value, bool bit_target) {
  Buffer& b = buffers_.emplace_back();
  SQLSMALLINT c_type = SQL_C_WCHAR;
  SQLSMALLINT sql_type = SQL_WVARCHAR;
  SQLULEN size = 1;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN capacity = 0;
  switch (value.type()) {
    case Value::Type::kEmpty:
    case Value::Type::kNull:
      b.text = ToOdbcText("");
      data = b.text.data();
      b.indicator = SQL_NULL_DATA;
      break;
    case Value::Type::kBoolean:
      if (bit_target) {
        b.bit = value.boolean() ? 1 : 0;
        c_type = SQL_C_BIT, sql_type = SQL_BIT, data = &b.bit;
      } else {
        b.small = value.boolean() ? 1 : 0;  // a true flag in an integer column reads 1
        c_type = SQL_C_SLONG, sql_type = SQL_INTEGER, data = &b.small;
      }
      break;
    case Value::Type::kInteger:
      b.integer = value.integer();
      c_type = SQL_C_SBIGINT, sql_type = SQL_BIGINT, data = &b.integer;
      break;
    case Value::Type::kDouble:
      b.real = value.real();
      c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, data = &b.real;
      break;
    case Value::Type::kDateTime: {
      const DateTime d = value.date();
      b.timestamp = {static_cast<SQLSMALLINT>(d.year()),
                     static_cast<SQLUSMALLINT>(d.month()),
                     static_cast<SQLUSMALLINT>(d.day()),
                     static_cast<SQLUSMALLINT>(d.hour()),
                     static_cast<SQLUSMALLINT>(d.minute()),
                     static_cast<SQLUSMALLINT>(d.second()),
                     0};
      c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP, data = &b.timestamp;
      size = 19;
      break;
    }
    case Value::Type::kText:
      b.text = ToOdbcText(value.text());
      data = b.text.data();
      size = std::max<SQLULEN>(1, b.text.size() - 1);
      capacity = static_cast<SQLLEN>(b.text.size() * sizeof(SQLWCHAR));
      b.indicator = static_cast<SQLLEN>((b.text.size() - 1) * sizeof(SQLWCHAR));
      break;
  }
  const SQLRETURN ret = SQLBindParameter(statement_.get(), number, SQL_PARAM_INPUT, c_type,
                                         sql_type, size, digits, data, capacity, &b.indicator);
  statement_.Check(ret, "binding parameter " + std::to_string(number));
}

long long OdbcStatement::RowCount() {
  SQLLEN count = 0;
  statement_.Check(SQLRowCount(statement_.get(), &count), "counting the changed rows");
  return count;
}

OdbcColumns OdbcStatement::Describe(std::string_view text_flag_type_name) {
  OdbcColumns result;
  SQLSMALLINT count = 0;
  statement_.Check(SQLNumResultCols(statement_.get(), &count), "describing the result");
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    statement_.Check(
        SQLDescribeColW(statement_.get(), i, name, static_cast<SQLSMALLINT>(std::size(name)),
                        &name_length, &type, &size, &digits, &nullable),
        "describing column " + std::to_string(i));
    ColumnInfo column;
    column.name = FromOdbcText(
        name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(name_length, 0)),
                                    std::size(name) - 1));
    column.base_table = ColumnText(statement_, i, SQL_DESC_BASE_TABLE_NAME);
    column.base_column = ColumnText(statement_, i, SQL_DESC_BASE_COLUMN_NAME);
    column.base_schema = ColumnText(statement_, i, SQL_DESC_SCHEMA_NAME);
    // A driver that hands a truth value over as text still names its type: it reads as a
    // Boolean, and a flag is never silently taken for text.
    if (!text_flag_type_name.empty() && IsCharacterType(type) &&
        ColumnText(statement_, i, SQL_DESC_TYPE_NAME) == text_flag_type_name) {
      type = SQL_BIT;
    }
    column.bit_target = type == SQL_BIT;
    result.columns.push_back(std::move(column));
    result.catalogs.push_back(type == SQL_TINYINT ? ColumnText(statement_, i, SQL_DESC_CATALOG_NAME)
                                                  : std::string());
    result.sql_types.push_back(type);
  }
  return result;
}

bool OdbcStatement::Fetch() {
  const SQLRETURN ret = SQLFetch(statement_.get());
  if (ret == SQL_NO_DATA) return false;
  statement_.Check(ret, "reading the rows of: " + sql_);
  return true;
}

void OdbcStatement::CloseCursor() noexcept {
  // Fails only when no cursor is open, which is what is asked for.
  (void)SQLFreeStmt(statement_.get(), SQL_CLOSE);
}

std::vector<std::vector<std::string>> OdbcStatement::ReadText(
    std::span<const SQLUSMALLINT> columns) {
  std::vector<std::vector<std::string>> rows;
  while (Fetch()) {
    std::vector<std::string> row;
    for (SQLUSMALLINT column : columns) {
      bool is_null = false;
      row.push_back(ReadWideText(column, is_null));
    }
    rows.push_back(std::move(row));
  }
  CloseCursor();
  return rows;
}

Value OdbcStatement::ReadColumn(SQLUSMALLINT column, SQLSMALLINT sql_type) {
  SQLLEN indicator = 0;
  const std::string doing = "reading column " + std::to_string(column) + " of: " + sql_;
  switch (sql_type) {
    case SQL_BIT: {
      unsigned char bit = 0;
      statement_.Check(
          SQLGetData(statement_.get(), column, SQL_C_BIT, &bit, sizeof bit, &indicator), doing);
      return indicator == SQL_NULL_DATA ? Value::Null() : Value(bit != 0);
    }
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
      SQLBIGINT number = 0;
      statement_.Check(
          SQLGetData(statement_.get(), column, SQL_C_SBIGINT, &number, sizeof number, &indicator),
          doing);
      return indicator == SQL_NULL_DATA ? Value::Null() : Value(static_cast<long long>(number));
    }
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL: {
      double number = 0;
      statement_.Check(
          SQLGetData(statement_.get(), column, SQL_C_DOUBLE, &number, sizeof number, &indicator),
          doing);
      return indicator == SQL_NULL_DATA ? Value::Null() : Value(number);
    }
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIME:
    case SQL_TIME: {
      SQL_TIMESTAMP_STRUCT t{};
      statement_.Check(
          SQLGetData(statement_.get(), column, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator),
          doing);
      if (indicator == SQL_NULL_DATA) return Value::Null();
      if (sql_type == SQL_TYPE_TIME || sql_type == SQL_TIME) {
        return Value(FromParts(1899, 12, 30, t.hour, t.minute, t.second));  // a time of day alone
      }
      return Value(FromParts(t.year, t.month, t.day, t.hour, t.minute, t.second));
    }
    default: {
      bool is_null = false;
      std::string text = ReadWideText(column, is_null);
      return is_null ? Value::Null() : Value(std::move(text));
    }
  }
}

std::string OdbcStatement::ReadWideText(SQLUSMALLINT column, bool& is_null) {
  std::vector<SQLWCHAR> chunk(2048);
  std::vector<SQLWCHAR> all;
  is_null = false;
  while (true) {
    SQLLEN indicator = 0;
    const SQLRETURN ret =
        SQLGetData(statement_.get(), column, SQL_C_WCHAR, chunk.data(),
                   static_cast<SQLLEN>(chunk.size() * sizeof(SQLWCHAR)), &indicator);
    if (ret == SQL_NO_DATA) break;  // the whole value was read by the previous call
    statement_.Check(ret, "reading column " + std::to_string(column) + " of: " + sql_);
    if (indicator == SQL_NULL_DATA) {
      is_null = true;
      return {};
    }
    // A full chunk holds chunk.size() - 1 characters and the terminator.
    std::size_t got = chunk.size() - 1;
    if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < got) {
      got = static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
    }
    all.insert(all.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
    if (ret == SQL_SUCCESS) break;
  }
  return FromOdbcText(all.data(), all.size());
}

}  // namespace corvane::data
