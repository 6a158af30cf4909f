#include "data/sqlite/sqlite_connection.h"

#include <sqlite3.h>

#include "data/data_error.h"
#include "data/engine_profile.h"
#include "data/sqlite/sqlite_row_set.h"

namespace corvane::data {

namespace {

// The statement cache keeps what was prepared: each execution takes it from there (preparing
// it again only if a row set of an earlier execution still steps it).
class SqlitePrepared final : public PreparedStatement {
 public:
  SqlitePrepared(std::shared_ptr<SqliteDatabase> database, std::string sql)
      : database_(std::move(database)), sql_(std::move(sql)) {
    database_->GiveBack(sql_, database_->Take(sql_));  // fails now for text SQLite refuses
  }

  std::unique_ptr<RowSet> OpenRowSet(std::span<const Value> parameters) override {
    return RunQuery(database_, sql_, parameters);
  }
  long long Execute(std::span<const Value> parameters) override {
    return database_->ExecuteWrite(sql_, parameters);
  }

  static std::unique_ptr<RowSet> RunQuery(const std::shared_ptr<SqliteDatabase>& database,
                                          std::string sql, std::span<const Value> parameters) {
    SqliteStatementPtr statement = database->Take(sql);
    // A statement that writes could show up in, or disturb, row sets that are still stepping.
    if (!sqlite3_stmt_readonly(statement.get())) database->BeforeWrite();
    return std::make_unique<SqliteRowSet>(database, std::move(sql), std::move(statement),
                                          parameters);
  }

 private:
  std::shared_ptr<SqliteDatabase> database_;
  std::string sql_;
};

}  // namespace

SqliteConnection::SqliteConnection(const EngineProfile& profile,
                                   std::shared_ptr<SqliteDatabase> database)
    : profile_(profile), database_(std::move(database)) {}

SqliteConnection::~SqliteConnection() {
  if (database_) database_->Close();
}

SqliteDatabase& SqliteConnection::Open() const {
  if (!database_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  return *database_;
}

std::unique_ptr<RowSet> SqliteConnection::OpenRowSet(std::string_view query,
                                                     std::span<const Value> parameters) {
  Open();
  return SqlitePrepared::RunQuery(database_, profile_.AdaptQuery(query), parameters);
}

std::unique_ptr<PreparedStatement> SqliteConnection::Prepare(std::string_view sql) {
  Open();
  return std::make_unique<SqlitePrepared>(database_, profile_.AdaptQuery(sql));
}

std::optional<bool> SqliteConnection::MayUpdate(std::string_view table, std::string_view column) {
  Open();
  return profile_.MayUpdate(*this, table, column);
}

const EngineProfile& SqliteConnection::profile() const {
  Open();
  return profile_;
}

void SqliteConnection::Close() {
  if (!database_) return;
  database_->Close();
  database_.reset();  // the file closes once no row set uses it any more
}

}  // namespace corvane::data
