// The data-access interface: one connection, the row sets opened on it, and statements prepared
// on it once and executed many times.
//
// Row sets are static snapshots of their query (what a client-side cursor gives): a second row
// set can be opened and closed on the same connection while the first stays on its current row,
// and neither updating the current row nor any other statement on the connection (an UPDATE, a
// prepared statement executed again) disturbs the iteration. Every failure is an Error of kind
// kDatabase carrying the engine's own code and message.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/value.h"
#include "base/wait_watch.h"

namespace corvane::data {

class EngineProfile;

class RowSet {
 public:
  virtual ~RowSet() = default;

  // After the last row (or when the query gave no row).
  virtual bool eof() const = 0;
  // Before the first row; true together with eof() only when the query gave no row.
  virtual bool bof() const = 0;

  // The current row's value of the column (name or alias, any letter case). Fails for a column
  // the query does not return, or when there is no current row.
  virtual Value Field(std::string_view column) const = 0;
  // Whether the query returns a column of that name (any letter case); needs no current row.
  virtual bool HasColumn(std::string_view column) const = 0;
  // Fails as Update() would for a change of `column` in any row of the set ("row cannot be
  // located for updating": computed column, no primary key, key not returned), writing nothing.
  virtual void CheckUpdatable(std::string_view column) = 0;

  // Holds a new value for the column on the current row until Update().
  virtual void SetField(std::string_view column, Value value) = 0;
  // Writes the current row's changed columns at once to the row's own table, found by that
  // table's primary key. Fails ("row cannot be located for updating") when the base row or its
  // key cannot be determined or when no row was changed.
  virtual void Update() = 0;
  virtual void MoveNext() = 0;
  // Done with the rows; further use fails. The destructor closes too.
  virtual void Close() = 0;
};

// One statement, prepared once on its connection (the engine adapts the text once) and
// executed as often as needed with values bound to its '?' placeholders, in order. Values are
// always bound, never joined into the text. It must not outlive its connection's Close(); use
// after that fails.
class PreparedStatement {
 public:
  virtual ~PreparedStatement() = default;

  // Runs a query and positions on the first row of its result. Meant for lookups run many times
  // with small results (one invoice's balance): an engine may read such a result whole when it
  // runs it. A row set from an earlier execution of this statement that is still open first
  // takes the rest of its rows into its own buffer, so it stays readable.
  virtual std::unique_ptr<RowSet> OpenRowSet(std::span<const Value> parameters = {}) = 0;
  // Runs a statement that changes rows (INSERT, UPDATE, DELETE) and returns how many rows it
  // changed, as the engine counts them: rows the statement matched on SQLite, PostgreSQL and SQL
  // Server; on MariaDB and MySQL only rows whose values it actually changed. Fails with the
  // engine's message when the engine refuses it (a unique key, a lock wait past its limit).
  virtual long long Execute(std::span<const Value> parameters = {}) = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs `query` (the system's own query text; the engine adapts its dialect) and positions on
  // the first row. Each Value in `parameters` binds to the next '?' placeholder. The rows of a
  // query are fetched as they are read, where the engine allows it beside other statements on
  // the same connection, so memory does not grow with the number of rows. A statement that is
  // no query (INSERT, UPDATE, DELETE) runs at once and gives an empty row set.
  virtual std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                             std::span<const Value> parameters = {}) = 0;
  // Prepares `sql` (the system's own text, with '?' placeholders) for many executions. Fails
  // with the engine's message for text the engine cannot prepare.
  virtual std::unique_ptr<PreparedStatement> Prepare(std::string_view sql) = 0;
  // Closes the connection; open row sets and prepared statements must not be used afterwards.
  virtual void Close() = 0;
  // "SQLite", "PostgreSQL", "Microsoft SQL Server", ...: for reports and tests.
  virtual std::string EngineName() const = 0;
  // What the program knows of the engine behind the connection (data/engine_profile.h). Fails
  // once the connection is closed.
  virtual const EngineProfile& profile() const = 0;
  // Whether this connection's login may change `column` of `table`, asked without writing,
  // where the engine can tell; nullopt where it cannot.
  virtual std::optional<bool> MayUpdate(std::string_view /*table*/, std::string_view /*column*/) {
    return std::nullopt;
  }
};

struct ConnectOptions {
  std::string connection_string;             // complete, password part included
  std::chrono::seconds timeout{10};          // bounds connecting (and a busy file)
  std::chrono::seconds statement_limit{30};  // bounds each statement, a busy wait included
  std::filesystem::path base_folder;         // relative database paths resolve against it
  WaitWatch* watch = nullptr;                // the program's own watch on every wait, if any
  // Nothing may be written, and every statement of the connection reads one consistent picture
  // of the database (the engine's read snapshot): for the commands that only look (--check,
  // --dry-run).
  bool read_only = false;
};

// An engine's own limit on a statement: kOwnLimitMargin before the program's.
inline std::chrono::seconds EngineLimit(std::chrono::seconds limit) {
  return std::max(limit - kOwnLimitMargin, std::chrono::seconds(1));
}

// Reads the connection string once, asks each engine's profile whether the string is its own
// (SQLite, the ODBC servers, a plain ODBC string last) and opens the connection through it.
std::unique_ptr<Connection> Connect(const ConnectOptions& options);

}  // namespace corvane::data
