#include "data/sqlite/sqlite_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <thread>

#include "base/ascii.h"
#include "data/basic_row_set.h"
#include "data/data_error.h"
#include "data/sqlite/sqlite_values.h"

namespace corvane::data {

void SqliteCloser::operator()(sqlite3* db) const noexcept {
  sqlite3_close_v2(db);
}
void SqliteFinalizer::operator()(sqlite3_stmt* statement) const noexcept {
  sqlite3_finalize(statement);
}

namespace {

// How many virtual-machine instructions SQLite runs between looks at the clock.
constexpr int kProgressInstructions = 10000;

}  // namespace

SqliteDatabase::SqliteDatabase(const SqliteOpening& opening, std::chrono::milliseconds busy_timeout,
                               std::chrono::seconds statement_limit, WaitWatch* watch)
    : statement_limit_(statement_limit), watch_(watch) {
  // A busy wait is part of its statement: it ends before the statement's own limit.
  const auto busy = std::min<std::chrono::milliseconds>(busy_timeout, EngineLimit(statement_limit));
  int rc = OpenAndRead(opening, busy);
  // A writer that connects or disconnects makes or removes the log and its index: what the
  // opening relied on may be gone (or not there yet) by the time SQLite opens it. The profile
  // looks at the folder again; a log that stays without its index is refused.
  for (int look = 0; (rc & 0xff) == SQLITE_CANTOPEN && opening.look_again && look < 3; ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rc = OpenAndRead(opening.look_again(), busy);
  }
  if (rc != SQLITE_OK) Fail(rc, "opening the database");
}

int SqliteDatabase::OpenAndRead(const SqliteOpening& opening, std::chrono::milliseconds busy) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(opening.name.c_str(), &raw, opening.flags, nullptr);
  db_.reset(raw);  // owned before the result is looked at, so a failed open is closed too
  if (rc != SQLITE_OK) {
    const std::string message = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    ThrowDatabaseError(ForeignCode::Of("SQLite", rc),
                       "Cannot open the SQLite database '" + opening.file.string() + "': " +
                           message + " (SQLite code " + std::to_string(rc) + ")");
  }
  sqlite3_extended_result_codes(raw, 1);
  Check(sqlite3_busy_timeout(raw, static_cast<int>(busy.count())), "setting the busy timeout");
  sqlite3_progress_handler(raw, kProgressInstructions, &SqliteDatabase::OnProgress, this);
  // Opening reads nothing yet; reading the schema finds a file that is no database, or one
  // locked past the wait, here rather than at the first query. In one read transaction, that
  // read takes the snapshot every later statement reads.
  const BoundedWait wait(watch_, busy + kOwnLimitMargin, "opening the database");
  if (opening.one_read_transaction) {
    if (const int begun = sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        begun != SQLITE_OK) {
      return begun;
    }
  }
  return sqlite3_exec(raw, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
}

SqliteDatabase::~SqliteDatabase() {
  idle_.clear();  // statements before the database
}

void SqliteDatabase::Close() {
  idle_.clear();
  closed_ = true;
}

void SqliteDatabase::CheckOpen() const {
  if (closed_)
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
}

SqliteStatementPtr SqliteDatabase::Take(const std::string& sql) {
  CheckOpen();
  const auto cached = std::find_if(idle_.begin(), idle_.end(),
                                   [&](const auto& entry) { return entry.first == sql; });
  if (cached != idle_.end()) {
    SqliteStatementPtr statement = std::move(cached->second);
    idle_.erase(cached);
    return statement;
  }
  sqlite3_stmt* raw = nullptr;
  const int rc =
      sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  SqliteStatementPtr statement(raw);
  if (rc != SQLITE_OK) Fail(rc, "preparing the query: " + sql);
  if (raw == nullptr) {
    ThrowDatabaseError(ForeignCode::Of("SQLite", SQLITE_MISUSE),
                       "The query text holds no statement: '" + sql + "'");
  }
  return statement;
}

void SqliteDatabase::GiveBack(const std::string& sql, SqliteStatementPtr statement) noexcept {
  if (!statement) return;
  sqlite3_reset(statement.get());
  sqlite3_clear_bindings(statement.get());
  if (closed_) return;
  idle_.emplace_front(sql, std::move(statement));
  if (idle_.size() > kCachedStatements) idle_.pop_back();
}

const std::vector<std::string>& SqliteDatabase::PrimaryKey(const std::string& table) {
  const std::string id = ToLowerAscii(table);
  if (const auto found = primary_keys_.find(id); found != primary_keys_.end()) {
    return found->second;
  }
  const std::string sql = "SELECT name FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk";
  SqliteStatementPtr statement = Take(sql);
  Check(sqlite3_bind_text(statement.get(), 1, table.c_str(), static_cast<int>(table.size()),
                          SQLITE_TRANSIENT),
        "binding the table name");
  std::vector<std::string> key;
  int rc = 0;
  while ((rc = Step(statement.get())) == SQLITE_ROW) {
    key.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0)));
  }
  if (rc != SQLITE_DONE) Fail(rc, "reading the primary key of " + table);
  GiveBack(sql, std::move(statement));
  return primary_keys_[id] = std::move(key);
}

void SqliteDatabase::Register(BasicRowSet* row_set) {
  streaming_.push_back(row_set);
}

void SqliteDatabase::Unregister(BasicRowSet* row_set) noexcept {
  streaming_.erase(std::remove(streaming_.begin(), streaming_.end(), row_set), streaming_.end());
}

void SqliteDatabase::BeforeWrite() {
  // Taking the rows unregisters: work on a copy.
  const std::vector<BasicRowSet*> streaming = streaming_;
  for (BasicRowSet* row_set : streaming) row_set->TakeRemainingRows();
}

void SqliteDatabase::Bind(sqlite3_stmt* statement, std::span<const Value> parameters,
                          std::string_view sql) {
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    Check(BindSqliteValue(statement, static_cast<int>(i + 1), parameters[i]),
          "binding parameter " + std::to_string(i + 1) + " of: " + std::string(sql));
  }
}

long long SqliteDatabase::ExecuteWrite(const std::string& sql, std::span<const Value> parameters) {
  SqliteStatementPtr statement = Take(sql);
  if (!sqlite3_stmt_readonly(statement.get())) BeforeWrite();
  Bind(statement.get(), parameters, sql);
  int rc = SQLITE_ROW;
  while (rc == SQLITE_ROW) rc = Step(statement.get());
  if (rc != SQLITE_DONE) Fail(rc, "running: " + sql);
  const long long changed = sqlite3_changes64(db_.get());
  GiveBack(sql, std::move(statement));
  return changed;
}

int SqliteDatabase::Step(sqlite3_stmt* statement) {
  const BoundedWait wait(watch_, statement_limit_, "the database statement");
  interrupted_ = false;
  interrupt_at_ = std::chrono::steady_clock::now() + EngineLimit(statement_limit_);
  const int rc = sqlite3_step(statement);
  interrupt_at_ = {};
  return rc;
}

int SqliteDatabase::OnProgress(void* self) noexcept {
  auto& database = *static_cast<SqliteDatabase*>(self);
  if (database.interrupt_at_ == std::chrono::steady_clock::time_point{}) return 0;
  if (std::chrono::steady_clock::now() < database.interrupt_at_) return 0;
  database.interrupted_ = true;
  return 1;  // SQLite ends the step with SQLITE_INTERRUPT
}

void SqliteDatabase::Check(int rc, std::string_view doing) const {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(rc, doing);
}

void SqliteDatabase::Fail(int rc, std::string_view doing) const {
  if (rc == SQLITE_INTERRUPT && interrupted_) {
    ThrowDatabaseError(errnum::kQueryTimeout,
                       "Query timeout expired: " + std::string(doing) + " did not end within " +
                           std::to_string(EngineLimit(statement_limit_).count()) +
                           " seconds (Command Timeout)");
  }
  const int code = db_ ? sqlite3_extended_errcode(db_.get()) : rc;
  const std::string message = db_ ? sqlite3_errmsg(db_.get()) : sqlite3_errstr(rc);
  ThrowDatabaseError(ForeignCode::Of("SQLite", code != 0 ? code : rc),
                     "SQLite error " + std::to_string(code != 0 ? code : rc) + " while " +
                         std::string(doing) + ": " + message);
}

}  // namespace corvane::data
