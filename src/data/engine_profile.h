// What the program knows of one database engine, each engine in one file of src/data/profiles/:
// how its connection strings read and what its driver needs added, how the program's own query
// texts are adapted for it, how a session is set up (date reading, lock and statement limits),
// how a read-only look reads one consistent picture, how its results are read beside other
// statements on the one connection, the privilege question of --check --fleet, and how its
// truth-value columns read. The engine-neutral layer (Connect, the ODBC engine, row sets) asks
// the profile and names no engine.
//
// Growing it: knowledge a later feature needs of every engine (the ledger's table and claim SQL,
// the run lock each engine holds for a run) is one more group of virtual functions here, with a
// neutral default where an engine may have none, and each engine's answer in its profile's file.
// A connection's profile is Connection::profile().
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/value.h"
#include "data/connection.h"
#include "data/connection_string.h"

namespace corvane::data {

// A statement and the values bound to its '?' placeholders.
struct BoundQuery {
  std::string sql;
  std::vector<Value> parameters;
};

// The limits a session is set up with.
struct SessionLimits {
  std::chrono::seconds lock_wait;  // a row or table another client keeps locked
  std::chrono::seconds statement;  // the engine's own limit on each statement
};

// How a read-only look (ConnectOptions::read_only) reads one consistent picture on a server.
struct ReadOnlyLook {
  // The driver's autocommit is turned off: every statement runs in one transaction, which the
  // statements below begin, until the connection closes (and rolls it back).
  bool one_transaction = false;
  // Run after the session set-up, in order.
  std::vector<std::string> statements;
};

// How the rows of a query are read in pieces through a server-side cursor, so that neither the
// driver nor the program holds more than one piece, while other statements run on the same
// connection. The cursor is insensitive: what the connection writes meanwhile does not show.
struct CursorStatements {
  std::string open;   // declares the cursor over the query (its '?' placeholders stay)
  std::string fetch;  // the next piece; a piece of fewer than piece_rows rows is the last
  std::string close;
  std::size_t piece_rows = 0;
};

// How a driver keeps the result of a statement while other statements run on the connection.
enum class ResultHolding {
  // One active statement per connection (no second result while one is pending): each result
  // is read whole into the row set and the statement freed at once.
  kReadWholeAtOnce,
  // The driver holds each result whole in its own memory; the row set reads from it row by row.
  kDriverHoldsResult,
};

// The ledger's SQL where it differs between engines (alerts/ledger/ledger_table.cpp writes the
// rest once): its table CorvaneLedger, made by an administrator with sql/<setup_file>, holds one
// row per message, keyed by (Pass, AlertKey).
struct LedgerDialect {
  std::string_view setup_file;  // "ledger-postgres.sql"
  // One row whose column Found is 1 when the table is there for this login, else 0.
  std::string table_question;
  // The server's clock, and a time `?` seconds from it (its one placeholder; negative: before).
  std::string now;
  std::string seconds_from_now;
  // Adds a claim unless a row has its key, and then changes nothing: 1 changed row when it
  // claimed, else 0. Placeholders: Pass, AlertKey, AlertDay, Recipients, Host, and how many
  // seconds the claim holds.
  std::string claim;
  // Where the engine runs both as one statement: the record of one claimed message (State,
  // Reply, Pass, AlertKey) followed by `claim`'s placeholders; its changed-row count is the
  // claim's. Empty: two statements.
  std::string record_then_claim;
};

// The answer to a run that asked for the run lock.
struct RunLockAnswer {
  bool held = false;   // this session holds it now
  std::string holder;  // otherwise: the host of the run that holds it, as that run wrote it
};

class EngineProfile {
 public:
  virtual ~EngineProfile() = default;

  // "SQLite", "PostgreSQL", "MariaDB", "MySQL", "Microsoft SQL Server", "ODBC".
  virtual std::string_view name() const = 0;

  // ---- The connection string, before connecting ----

  // Whether the string is this engine's: it names the engine's OLE DB provider or ODBC driver.
  // `read` holds the string's parts as its grammar reads them, the program's own parts taken
  // out. The plain ODBC profile claims every string and is asked last.
  virtual bool Claims(const ConnectionString& read) const = 0;
  // Opens a connection for a string this profile claimed: the engine's own parts read, what its
  // driver needs added (unless the string sets it), and the parts handed to the engine written
  // in its grammar. Fails as Connect does.
  virtual std::unique_ptr<Connection> Open(const ConnectionString& read,
                                           const ConnectOptions& options) const = 0;

  // ---- The server, once connected through ODBC ----

  // Whether the server a driver reports (SQL_DBMS_NAME, SQL_DBMS_VER) is this engine's.
  virtual bool IsServer(std::string_view /*dbms_name*/, std::string_view /*dbms_version*/) const {
    return false;
  }
  // The program's query text as this engine must read it (the texts use TOP n, US-English short
  // dates and the tables' names in any letter case).
  virtual std::string AdaptQuery(std::string_view sql) const { return std::string(sql); }
  // Statements that set up a new session: how dates in query texts read, how long a locked row
  // is waited for, the server's own limit on each statement.
  virtual std::vector<std::string> SessionSetup(const SessionLimits& /*limits*/) const {
    return {};
  }
  // How a read-only look reads one consistent picture; nothing where the engine has no means.
  virtual ReadOnlyLook ReadOnlyLookSetup() const { return {}; }
  // How results are kept beside other statements on the one connection.
  virtual ResultHolding result_holding() const { return ResultHolding::kReadWholeAtOnce; }
  // The cursor a query (already adapted) is read through, piece by piece, so that memory does
  // not grow with its rows; nullopt where the engine's driver holds results whole or allows no
  // second statement beside a pending one. `name` is unique on the connection.
  virtual std::optional<CursorStatements> Cursor(std::string_view /*query*/,
                                                 std::string_view /*name*/) const {
    return std::nullopt;
  }

  // ---- Questions ----

  // Whether the connection's login may UPDATE `column` of `table`, asked without writing;
  // nullopt where the engine cannot tell here.
  virtual std::optional<bool> MayUpdate(Connection& /*connection*/, std::string_view /*table*/,
                                        std::string_view /*column*/) const {
    return std::nullopt;
  }
  // The type name a driver gives a truth-value column it hands over as text (psqlODBC's BOOLEAN
  // without BoolsAsChar=0); empty where none.
  virtual std::string_view TextFlagTypeName() const { return {}; }
  // The question that lists the truth-value columns of a table that the driver describes as
  // TINYINT (MariaDB's BOOLEAN is TINYINT(1)); nullopt where a TINYINT is always a number.
  // `catalog` may be empty: the connection's database.
  virtual std::optional<BoundQuery> TinyIntFlagsQuestion(std::string_view /*catalog*/,
                                                         std::string_view /*table*/) const {
    return std::nullopt;
  }

  // ---- The ledger (--ledger) ----

  // Its SQL on this engine; null where the program keeps no ledger there.
  virtual const LedgerDialect* Ledger() const { return nullptr; }
  // Takes the engine's own lock that lets one ledger run at a time work on this database, for
  // the session: the server drops it when the connection ends, however the run ends. `host`
  // names this run to the runs that find the lock taken. Never waits for the lock. nullopt where
  // the engine has no such lock (SQLite): the ledger then holds a lease of its own instead.
  virtual std::optional<RunLockAnswer> TryRunLock(Connection& /*connection*/,
                                                  std::string_view /*host*/) const {
    return std::nullopt;
  }
  // Whether the connection's login may read, add and change the ledger's rows, asked without
  // writing; nullopt where the engine cannot tell here.
  virtual std::optional<bool> MayKeepLedger(Connection& /*connection*/) const {
    return std::nullopt;
  }
};

// The profile whose Claims accepts the string (the plain ODBC profile when no other does).
const EngineProfile& ProfileForConnectionString(const ConnectionString& read);
// The profile of the server a driver reports; the plain ODBC profile for a server no profile
// knows.
const EngineProfile& ProfileForServer(std::string_view dbms_name, std::string_view dbms_version);

}  // namespace corvane::data
