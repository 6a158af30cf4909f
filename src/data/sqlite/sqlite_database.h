// One open SQLite database file, shared by a connection, its prepared statements and the row sets
// opened on it (they keep it alive). It caches prepared statements by their final text, knows
// the primary keys of the tables, and keeps the static-snapshot promise: before anything writes,
// every row set still reading from a running statement takes the rest of its rows into its own
// buffer.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/value.h"
#include "base/wait_watch.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane::data {

class BasicRowSet;

// How a database file is opened (the SQLite profile decides).
struct SqliteOpening {
  std::filesystem::path file;  // for messages
  std::string name;            // what sqlite3_open_v2 is given: the path, or a "file:" URI
  int flags = 0;               // SQLITE_OPEN_...
  // Every statement reads inside one transaction, begun at the open and held until the close,
  // so all of them read one snapshot (the file's shared lock or a write-ahead log's read mark).
  bool one_read_transaction = false;
  // When the opening depends on the files beside the database (a write-ahead log and its
  // index, which a writer makes and removes): how to open it after SQLite could not.
  std::function<SqliteOpening()> look_again;
};

struct SqliteCloser {
  void operator()(sqlite3* db) const noexcept;
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using SqliteStatementPtr = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

class SqliteDatabase {
 public:
  // Opens the file as `opening` says and checks that it is a database, waiting at most
  // `busy_timeout` on a locked file (the wait is part of a statement: it ends a margin before
  // `statement_limit`). Each step of a statement ends within `statement_limit`: SQLite
  // interrupts itself a margin before it, and `watch` (if any) holds the program to it.
  SqliteDatabase(const SqliteOpening& opening, std::chrono::milliseconds busy_timeout,
                 std::chrono::seconds statement_limit, WaitWatch* watch);
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  ~SqliteDatabase();

  sqlite3* handle() const { return db_.get(); }
  bool closed() const { return closed_; }
  // Drops the cached statements and closes the file once the last row set is gone. Further
  // use fails.
  void Close();
  void CheckOpen() const;

  // A prepared statement for `sql`, taken from the cache or prepared now; not shared with any
  // other user until it is given back.
  SqliteStatementPtr Take(const std::string& sql);
  // Resets a statement and keeps it for the next Take of the same text (a few are kept).
  void GiveBack(const std::string& sql, SqliteStatementPtr statement) noexcept;

  // The primary-key columns of `table`, in key order; empty when it has none.
  const std::vector<std::string>& PrimaryKey(const std::string& table);

  // Row sets that still step a running statement register here until they stop.
  void Register(BasicRowSet* row_set);
  void Unregister(BasicRowSet* row_set) noexcept;
  // Called before every write: the registered row sets buffer the rest of their rows.
  void BeforeWrite();

  // Binds `parameters` to the statement's '?' placeholders in order (sqlite_values.h).
  void Bind(sqlite3_stmt* statement, std::span<const Value> parameters, std::string_view sql);
  // Runs `sql` (a statement that changes rows) with `parameters` through the statement cache,
  // row sets still stepping taken to their end first; returns the number of rows it changed.
  long long ExecuteWrite(const std::string& sql, std::span<const Value> parameters);

  // sqlite3_step under the statement limit; a step the limit ends fails with SQLITE_INTERRUPT,
  // which Fail reports as a query timeout.
  int Step(sqlite3_stmt* statement);

  // Throws the database's current error (extended code and message) when `rc` is a failure.
  void Check(int rc, std::string_view doing) const;
  [[noreturn]] void Fail(int rc, std::string_view doing) const;

 private:
  static constexpr std::size_t kCachedStatements = 16;

  static int OnProgress(void* self) noexcept;
  // Opens the file as `opening` says (throws when it cannot) and reads its schema; returns the
  // read's SQLite result code, since a log or index found missing there may be mended by a
  // second look.
  int OpenAndRead(const SqliteOpening& opening, std::chrono::milliseconds busy);

  std::unique_ptr<sqlite3, SqliteCloser> db_;
  std::chrono::seconds statement_limit_;
  WaitWatch* watch_;
  std::chrono::steady_clock::time_point interrupt_at_{};  // epoch: no step running
  bool interrupted_ = false;                              // the last step was ended by the limit
  bool closed_ = false;
  std::list<std::pair<std::string, SqliteStatementPtr>> idle_;    // most recently given back first
  std::map<std::string, std::vector<std::string>> primary_keys_;  // by lower-case table name
  std::vector<BasicRowSet*> streaming_;
};

}  // namespace corvane::data
