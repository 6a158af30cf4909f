// Which base-table rows an update of a row set's current row writes, found from the columns'
// base-table metadata and the base tables' primary keys. Shared by every engine.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/value.h"

namespace corvane::data {

struct ColumnInfo {
  std::string name;         // name or alias, as the query returns it
  std::string base_schema;  // empty when the engine gives none
  std::string base_table;   // empty for a computed column
  std::string base_column;
  bool bit_target = false;  // a Boolean written here binds as a bit (else as 1/0)
};

struct TableWrite {
  std::string schema;
  std::string table;
  std::vector<std::pair<std::string, Value>> set;  // base column, new value
  std::vector<std::pair<std::string, Value>> key;  // primary-key column, value in the row
  std::vector<bool> bit_targets;                   // per entry of `set`
};

// The primary-key columns of a base table (empty: it has none).
using PrimaryKeyLookup =
    std::function<std::vector<std::string>(const std::string& schema, const std::string& table)>;

// One write per base table touched by the changed columns (`changes[i]` for column i). Fails with
// "Row cannot be located for updating" when a changed column has no base table, when the table
// has no primary key, or when the row set does not carry the key (or carries it ambiguously,
// e.g. one table joined twice with different key values, or a Null key).
// Fails as PlanUpdate would for a change of column `index` in any row: the column is computed,
// its table has no primary key, or the row set does not return that key. Needs no row.
void CheckWritable(const std::vector<ColumnInfo>& columns, std::size_t index,
                   const PrimaryKeyLookup& primary_key);

// The UPDATE statement of one write: its text, with the schema, table and column names quoted
// by `quote` (names come from the engine's metadata, so none can be read as SQL), and its
// parameters in order (the new values, then the key's values), each with whether a Boolean
// among them binds as a bit.
struct UpdateStatement {
  std::string sql;
  std::vector<Value> parameters;
  std::vector<bool> bit_targets;
};
UpdateStatement UpdateStatementFor(const TableWrite& write,
                                   const std::function<std::string(const std::string&)>& quote);

std::vector<TableWrite> PlanUpdate(const std::vector<ColumnInfo>& columns,
                                   const std::vector<Value>& row,
                                   const std::vector<std::optional<Value>>& changes,
                                   const PrimaryKeyLookup& primary_key);

}  // namespace corvane::data
