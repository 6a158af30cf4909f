// One open SQLite database file, shared by a connection and the row sets opened on it (they keep
// it alive). It caches prepared statements by their final text, knows the primary keys of the
// tables, and keeps the static-snapshot promise: before anything writes, every row set still
// reading from a running statement takes the rest of its rows into its own buffer.
#pragma once

#include <chrono>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/wait_watch.h"

struct sqlite3;
struct sqlite3_stmt;

namespace corvane::data {

class SqliteRowSet;

struct SqliteCloser {
  void operator()(sqlite3* db) const noexcept;
};
struct SqliteFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept;
};
using SqliteStatementPtr = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;

class SqliteDatabase {
 public:
  // Opens an existing file for reading and writing (a missing file fails: nothing is created)
  // and checks that it is a database, waiting at most `busy_timeout` on a locked file. Each
  // step of a statement ends within `statement_limit`: SQLite interrupts itself a margin
  // before it, and `watch` (if any) holds the program to it.
  // `read_only`: nothing can be written, and no file beside it is created, changed or removed,
  // in either journal mode: a write-ahead log another writer left is read (without touching its
  // index) and never checkpointed; a WAL database without one is read as a file that cannot
  // change. Fails when a write-ahead log is there without its index, which only a writer can
  // rebuild.
  SqliteDatabase(const std::filesystem::path& file, std::chrono::milliseconds busy_timeout,
                 std::chrono::seconds statement_limit, WaitWatch* watch, bool read_only = false);
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
  void Register(SqliteRowSet* row_set);
  void Unregister(SqliteRowSet* row_set) noexcept;
  // Called before every write: the registered row sets buffer the rest of their rows.
  void BeforeWrite();

  // sqlite3_step under the statement limit; a step the limit ends fails with SQLITE_INTERRUPT,
  // which Fail reports as a query timeout.
  int Step(sqlite3_stmt* statement);

  // Throws the database's current error (extended code and message) when `rc` is a failure.
  void Check(int rc, std::string_view doing) const;
  [[noreturn]] void Fail(int rc, std::string_view doing) const;

 private:
  static constexpr std::size_t kCachedStatements = 16;

  static int OnProgress(void* self) noexcept;

  std::unique_ptr<sqlite3, SqliteCloser> db_;
  std::chrono::seconds statement_limit_;
  WaitWatch* watch_;
  std::chrono::steady_clock::time_point interrupt_at_{};  // epoch: no step running
  bool interrupted_ = false;                              // the last step was ended by the limit
  bool closed_ = false;
  std::list<std::pair<std::string, SqliteStatementPtr>> idle_;    // most recently given back first
  std::map<std::string, std::vector<std::string>> primary_keys_;  // by lower-case table name
  std::vector<SqliteRowSet*> streaming_;
};

}  // namespace corvane::data
