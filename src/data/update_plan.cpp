#include "data/update_plan.h"

#include "base/ascii.h"
#include "data/data_error.h"

namespace corvane::data {

namespace {

bool SameTable(const ColumnInfo& column, const std::string& schema, const std::string& table) {
  return EqualsNoCase(column.base_table, table) &&
         (schema.empty() || column.base_schema.empty() || EqualsNoCase(column.base_schema, schema));
}

// The row's value of `table`.`key_column`, which must be carried without ambiguity.
Value KeyValue(const std::vector<ColumnInfo>& columns, const std::vector<Value>& row,
               const std::string& schema, const std::string& table, const std::string& key_column) {
  std::optional<Value> found;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (!SameTable(columns[i], schema, table) ||
        !EqualsNoCase(columns[i].base_column, key_column)) {
      continue;
    }
    if (found && !(*found == row[i])) {
      ThrowRowCannotBeLocated("the row set holds table " + table + " more than once with " +
                              "different values of its key " + key_column);
    }
    found = row[i];
  }
  if (!found) {
    ThrowRowCannotBeLocated("the row set does not return the key column " + key_column +
                            " of table " + table);
  }
  if (found->is_null() || found->is_empty()) {
    ThrowRowCannotBeLocated("the key column " + key_column + " of table " + table +
                            " is Null in this row");
  }
  return *found;
}

void CheckBaseColumn(const ColumnInfo& column) {
  if (column.base_table.empty() || column.base_column.empty()) {
    ThrowRowCannotBeLocated("column " + column.name + " is computed, not a column of a table");
  }
}

std::vector<std::string> KeyOf(const std::string& schema, const std::string& table,
                               const PrimaryKeyLookup& primary_key) {
  std::vector<std::string> key = primary_key(schema, table);
  if (key.empty()) ThrowRowCannotBeLocated("table " + table + " has no primary key");
  return key;
}

}  // namespace

void CheckWritable(const std::vector<ColumnInfo>& columns, std::size_t index,
                   const PrimaryKeyLookup& primary_key) {
  const ColumnInfo& column = columns.at(index);
  CheckBaseColumn(column);
  for (const std::string& key_column : KeyOf(column.base_schema, column.base_table, primary_key)) {
    bool carried = false;
    for (const ColumnInfo& c : columns) {
      carried = carried || (SameTable(c, column.base_schema, column.base_table) &&
                            EqualsNoCase(c.base_column, key_column));
    }
    if (!carried) {
      ThrowRowCannotBeLocated("the row set does not return the key column " + key_column +
                              " of table " + column.base_table);
    }
  }
}

UpdateStatement UpdateStatementFor(const TableWrite& write,
                                   const std::function<std::string(const std::string&)>& quote) {
  UpdateStatement out;
  out.sql = "UPDATE ";
  if (!write.schema.empty()) out.sql += quote(write.schema) + ".";
  out.sql += quote(write.table) + " SET ";
  for (std::size_t i = 0; i < write.set.size(); ++i) {
    out.sql += (i == 0 ? "" : ", ") + quote(write.set[i].first) + " = ?";
    out.parameters.push_back(write.set[i].second);
    out.bit_targets.push_back(i < write.bit_targets.size() && write.bit_targets[i]);
  }
  out.sql += " WHERE ";
  for (std::size_t i = 0; i < write.key.size(); ++i) {
    out.sql += (i == 0 ? "" : " AND ") + quote(write.key[i].first) + " = ?";
    out.parameters.push_back(write.key[i].second);
    out.bit_targets.push_back(false);
  }
  return out;
}

std::vector<TableWrite> PlanUpdate(const std::vector<ColumnInfo>& columns,
                                   const std::vector<Value>& row,
                                   const std::vector<std::optional<Value>>& changes,
                                   const PrimaryKeyLookup& primary_key) {
  std::vector<TableWrite> writes;
  for (std::size_t i = 0; i < columns.size() && i < changes.size(); ++i) {
    if (!changes[i]) continue;
    const ColumnInfo& column = columns[i];
    CheckBaseColumn(column);
    TableWrite* write = nullptr;
    for (auto& w : writes) {
      if (EqualsNoCase(w.table, column.base_table) && EqualsNoCase(w.schema, column.base_schema)) {
        write = &w;
      }
    }
    if (write == nullptr) {
      writes.push_back({column.base_schema, column.base_table, {}, {}, {}});
      write = &writes.back();
    }
    const Value value = changes[i]->is_empty() ? Value::Null() : *changes[i];
    write->set.emplace_back(column.base_column, value);
    write->bit_targets.push_back(column.bit_target);
  }
  for (auto& write : writes) {
    for (const auto& key_column : KeyOf(write.schema, write.table, primary_key)) {
      write.key.emplace_back(key_column,
                             KeyValue(columns, row, write.schema, write.table, key_column));
    }
  }
  return writes;
}

}  // namespace corvane::data
