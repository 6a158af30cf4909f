#include "data/sqlite/sqlite_row_set.h"

#include <sqlite3.h>

namespace corvane::data {

namespace {

std::string OrEmpty(const char* text) {
  return text == nullptr ? std::string() : text;
}

// Names come from the engine's metadata; quoting keeps any of them from being read as SQL.
std::string Quote(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

}  // namespace

SqliteRowSet::SqliteRowSet(std::shared_ptr<SqliteDatabase> database, std::string sql,
                           SqliteStatementPtr statement, std::span<const Value> parameters)
    : SqliteRowSet(FirstStep(*database, sql, statement.get(), parameters), std::move(database),
                   std::move(sql), std::move(statement)) {}

SqliteRowSet::SqliteRowSet(int first_step, std::shared_ptr<SqliteDatabase>&& database,
                           std::string&& sql, SqliteStatementPtr&& statement)
    : BasicRowSet(Describe(statement.get())),
      database_(std::move(database)),
      sql_(std::move(sql)),
      statement_(std::move(statement)),
      first_step_(first_step) {
  for (int i = 0; i < sqlite3_column_count(statement_.get()); ++i) {
    kinds_.push_back(
        SqliteKindOfDeclaredType(OrEmpty(sqlite3_column_decltype(statement_.get(), i))));
  }
  Start();
  // Registered only once the constructor cannot fail any more: the destructor unregisters.
  if (statement_) database_->Register(this);
}

SqliteRowSet::~SqliteRowSet() {
  Release();
}

int SqliteRowSet::FirstStep(SqliteDatabase& database, const std::string& sql,
                            sqlite3_stmt* statement, std::span<const Value> parameters) {
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    database.Check(BindSqliteValue(statement, static_cast<int>(i + 1), parameters[i]),
                   "binding parameter " + std::to_string(i + 1) + " of: " + sql);
  }
  return database.Step(statement);
}

std::vector<ColumnInfo> SqliteRowSet::Describe(sqlite3_stmt* statement) {
  std::vector<ColumnInfo> columns;
  for (int i = 0; i < sqlite3_column_count(statement); ++i) {
    ColumnInfo column;
    column.name = OrEmpty(sqlite3_column_name(statement, i));
    column.base_table = OrEmpty(sqlite3_column_table_name(statement, i));
    column.base_column = OrEmpty(sqlite3_column_origin_name(statement, i));
    columns.push_back(std::move(column));
  }
  return columns;
}

bool SqliteRowSet::FetchRow(std::vector<Value>& row) {
  if (!buffered_.empty()) {
    row = std::move(buffered_.front());
    buffered_.pop_front();
    return true;
  }
  return statement_ && Step(row);
}

bool SqliteRowSet::Step(std::vector<Value>& row) {
  const int rc = first_step_ != kStepTaken ? first_step_ : database_->Step(statement_.get());
  first_step_ = kStepTaken;
  if (rc == SQLITE_DONE) {
    StopStatement();
    return false;
  }
  if (rc != SQLITE_ROW) database_->Fail(rc, "reading the rows of: " + sql_);
  row.resize(kinds_.size());
  for (std::size_t i = 0; i < kinds_.size(); ++i) {
    row[i] = ReadSqliteColumn(statement_.get(), static_cast<int>(i), kinds_[i]);
  }
  return true;
}

void SqliteRowSet::BufferRemainingRows() {
  while (statement_) {
    std::vector<Value> row;
    if (!Step(row)) break;
    buffered_.push_back(std::move(row));
  }
}

std::vector<std::string> SqliteRowSet::PrimaryKey(const std::string&, const std::string& table) {
  return database_->PrimaryKey(table);
}

long long SqliteRowSet::WriteRow(const TableWrite& write) {
  database_->BeforeWrite();
  std::string sql = "UPDATE " + Quote(write.table) + " SET ";
  for (std::size_t i = 0; i < write.set.size(); ++i) {
    sql += (i == 0 ? "" : ", ") + Quote(write.set[i].first) + " = ?";
  }
  sql += " WHERE ";
  for (std::size_t i = 0; i < write.key.size(); ++i) {
    sql += (i == 0 ? "" : " AND ") + Quote(write.key[i].first) + " = ?";
  }
  SqliteStatementPtr statement = database_->Take(sql);
  int parameter = 0;
  for (const auto& [name, value] : write.set) {
    database_->Check(BindSqliteValue(statement.get(), ++parameter, value), "binding " + name);
  }
  for (const auto& [name, value] : write.key) {
    database_->Check(BindSqliteValue(statement.get(), ++parameter, value), "binding " + name);
  }
  const int rc = database_->Step(statement.get());
  if (rc != SQLITE_DONE) database_->Fail(rc, "updating table " + write.table);
  const long long changed = sqlite3_changes64(database_->handle());
  database_->GiveBack(sql, std::move(statement));
  return changed;
}

void SqliteRowSet::Release() noexcept {
  StopStatement();
  buffered_.clear();
}

void SqliteRowSet::CheckConnection() const {
  database_->CheckOpen();
}

void SqliteRowSet::StopStatement() noexcept {
  if (statement_) database_->GiveBack(sql_, std::move(statement_));
  database_->Unregister(this);
}

}  // namespace corvane::data
