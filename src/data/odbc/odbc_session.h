// One ODBC connection to a server, shared by the connection object and its row sets: the
// environment and connection handles, what the server is (for the dialect), the primary keys of
// the tables it was asked about, and whether it was closed.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/wait_watch.h"
#include "data/dialect.h"
#include "data/odbc/odbc_handle.h"
#include "data/odbc/odbc_statement.h"

namespace corvane::data {

class OdbcSession {
 public:
  // Connects with `connection_string` (ODBC form), waiting at most `timeout` for the login, then
  // pins the session's reading of date literals to month-day-year, limits a wait for a row
  // locked by another client to `timeout`, and each statement to `statement_limit` (the
  // server's own limit a margin before it; `watch`, if any, holds the program to the limit
  // itself, for a server that cannot keep its own). `read_only`: the session is asked to write
  // nothing: the ODBC access mode (where the driver honours it) and, on PostgreSQL, MariaDB and
  // MySQL, read-only transactions for the whole session.
  OdbcSession(const std::string& connection_string, std::chrono::seconds timeout,
              std::chrono::seconds statement_limit, WaitWatch* watch, bool read_only = false);
  ~OdbcSession();
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  // The driver names the driver manager knows (for choosing a SQL Server driver).
  static std::vector<std::string> InstalledDrivers();

  const std::string& dbms_name() const { return dbms_name_; }
  const Dialect& dialect() const { return dialect_; }
  bool closed() const { return !login_.connected; }
  void CheckOpen() const;
  void Close() noexcept;

  // A new statement on the connection, with the server-side limit set.
  std::unique_ptr<OdbcStatement> NewStatement();
  // Watches one statement (executing and reading its result) for as long as it lives.
  BoundedWait StatementWait() const {
    return BoundedWait(watch_, statement_limit_, "the database statement");
  }
  // Quotes an identifier with the server's quote character.
  std::string Quote(const std::string& name) const;
  // The primary-key columns of a table, in key order (empty: none). Asked with the name as the
  // driver reported it: some catalogs match names case-sensitively.
  const std::vector<std::string>& PrimaryKey(const std::string& schema, const std::string& table);
  // Whether the login may UPDATE the column, from the server's privilege catalog: PostgreSQL,
  // MariaDB and MySQL; nullopt for servers whose catalog is not known here.
  std::optional<bool> MayUpdate(std::string_view table, std::string_view column);
  // MariaDB and MySQL declare BOOLEAN as TINYINT(1), which their drivers describe exactly as any
  // TINYINT: the result's TINYINT(1) table columns (found in the server's catalog, once per
  // table) turn into Booleans. Other servers describe theirs as bits already.
  void ReadFlagsAsBooleans(OdbcResult& result);

 private:
  enum class Server { kOther, kSqlServer, kPostgres, kSqlite, kMariaDb, kMySql };

  void RunSessionSetup(std::chrono::seconds timeout, bool read_only);
  const std::vector<std::string>& FlagColumns(const std::string& catalog, const std::string& table);

  // Disconnects before the connection handle is freed, also when the constructor fails after
  // the login.
  struct Login {
    SQLHDBC connection = SQL_NULL_HDBC;
    bool connected = false;
    ~Login() {
      if (connected) SQLDisconnect(connection);
    }
  };

  std::chrono::seconds statement_limit_;
  WaitWatch* watch_;
  OdbcHandle environment_;
  OdbcHandle connection_;
  Login login_;
  std::string dbms_name_;
  Server server_ = Server::kOther;
  std::string quote_;
  Dialect dialect_;
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> primary_keys_;
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> flag_columns_;
};

}  // namespace corvane::data
