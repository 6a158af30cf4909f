#include "data/sqlite/sqlite_values.h"

#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "base/ascii.h"

namespace corvane::data {

namespace {

std::string IsoText(DateTime d) {
  char buffer[80];
  if (d.is_midnight()) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year(), d.month(), d.day());
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(),
                  d.day(), d.hour(), d.minute(), d.second());
  }
  return buffer;
}

std::string Text(sqlite3_stmt* statement, int i) {
  const auto* text = sqlite3_column_text(statement, i);
  const int size = sqlite3_column_bytes(statement, i);
  return text == nullptr
             ? std::string()
             : std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
}

}  // namespace

SqliteColumnKind SqliteKindOfDeclaredType(std::string_view declared_type) {
  // The type name is the leading word(s) before any "(size)".
  std::string name = ToLowerAscii(declared_type.substr(0, declared_type.find('(')));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return SqliteColumnKind::kByStorage;
  if (name == "date" || name == "datetime" || name == "timestamp" || name == "smalldatetime" ||
      name == "datetime2") {
    return SqliteColumnKind::kDate;
  }
  if (name == "boolean" || name == "bool" || name == "bit") return SqliteColumnKind::kBoolean;
  if (name.find("int") != std::string::npos || name == "real" || name == "numeric" ||
      name == "decimal" || name == "money" || name == "smallmoney" || name == "float" ||
      name == "double" || name == "double precision") {
    return SqliteColumnKind::kNumber;
  }
  return SqliteColumnKind::kText;
}

Value ReadSqliteColumn(sqlite3_stmt* statement, int i, SqliteColumnKind kind) {
  const int storage = sqlite3_column_type(statement, i);
  switch (storage) {
    case SQLITE_NULL:
      return Value::Null();
    case SQLITE_INTEGER: {
      const long long number = sqlite3_column_int64(statement, i);
      if (kind == SqliteColumnKind::kBoolean) return Value(number != 0);
      if (kind == SqliteColumnKind::kText) return Value(Text(statement, i));
      return Value(number);
    }
    case SQLITE_FLOAT: {
      const double number = sqlite3_column_double(statement, i);
      if (kind == SqliteColumnKind::kBoolean) return Value(number != 0);
      if (kind == SqliteColumnKind::kText) return Value(Text(statement, i));
      return Value(number);
    }
    default: {  // text, and blobs as their bytes
      std::string text = Text(statement, i);
      if (kind == SqliteColumnKind::kDate) {
        if (auto date = DateTime::FromIso(text)) return Value(*date);
      }
      return Value(std::move(text));
    }
  }
}

int BindSqliteValue(sqlite3_stmt* statement, int i, const Value& value) {
  switch (value.type()) {
    case Value::Type::kEmpty:
    case Value::Type::kNull:
      return sqlite3_bind_null(statement, i);
    case Value::Type::kBoolean:
      return sqlite3_bind_int(statement, i, value.boolean() ? 1 : 0);
    case Value::Type::kInteger:
      return sqlite3_bind_int64(statement, i, value.integer());
    case Value::Type::kDouble:
      return sqlite3_bind_double(statement, i, value.real());
    case Value::Type::kDateTime: {
      const std::string text = IsoText(value.date());
      return sqlite3_bind_text(statement, i, text.c_str(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
    }
    case Value::Type::kText:
      return sqlite3_bind_text(statement, i, value.text().c_str(),
                               static_cast<int>(value.text().size()), SQLITE_TRANSIENT);
  }
  return SQLITE_MISUSE;
}

}  // namespace corvane::data
