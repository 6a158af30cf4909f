// The data-access interface: one connection, and row sets opened on it.
//
// Row sets are static snapshots of their query (what a client-side cursor gives): a second row
// set can be opened and closed on the same connection while the first stays on its current row,
// and updating the current row does not disturb the iteration. Every failure is an Error of
// kind kDatabase carrying the engine's own code and message.
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

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs `query` (the system's own query text; the engine adapts its dialect) and positions on
  // the first row. Each Value in `parameters` binds to the next '?' placeholder.
  virtual std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                             std::span<const Value> parameters = {}) = 0;
  // Closes the connection; open row sets must not be used afterwards.
  virtual void Close() = 0;
  // "SQLite", "PostgreSQL", "Microsoft SQL Server", ...: for reports and tests.
  virtual std::string EngineName() const = 0;
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
  // Nothing may be written, and nothing is created, changed or removed beside a database file:
  // for the commands that only look (--check, --dry-run).
  bool read_only = false;
};

// An engine's own limit on a statement: kOwnLimitMargin before the program's.
inline std::chrono::seconds EngineLimit(std::chrono::seconds limit) {
  return std::max(limit - kOwnLimitMargin, std::chrono::seconds(1));
}

// Chooses the engine from the connection string ("Provider=SQLite;..." embedded SQLite, anything
// else ODBC) and opens the connection.
std::unique_ptr<Connection> Connect(const ConnectOptions& options);

}  // namespace corvane::data
