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
  ReleaseEngine();
}

int SqliteRowSet::FirstStep(SqliteDatabase& database, const std::string& sql,
                            sqlite3_stmt* statement, std::span<const Value> parameters) {
  database.Bind(statement, parameters, sql);
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

std::vector<std::string> SqliteRowSet::PrimaryKey(const std::string&, const std::string& table) {
  return database_->PrimaryKey(table);
}

long long SqliteRowSet::WriteRow(const TableWrite& write) {
  const UpdateStatement update = UpdateStatementFor(write, Quote);
  return database_->ExecuteWrite(update.sql, update.parameters);
}

void SqliteRowSet::Release() noexcept {
  StopStatement();
}

void SqliteRowSet::CheckConnection() const {
  database_->CheckOpen();
}

void SqliteRowSet::StopStatement() noexcept {
  if (statement_) database_->GiveBack(sql_, std::move(statement_));
  database_->Unregister(this);
}

}  // namespace corvane::data
