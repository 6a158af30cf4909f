// One ODBC connection to a server, shared by the connection object, its prepared statements and
// its row sets: the environment and connection handles, the server's profile, the primary keys
// and truth-value columns of the tables it was asked about, the writes prepared on it, and
// whether it was closed.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/wait_watch.h"
#include "data/connection.h"
#include "data/engine_profile.h"
#include "data/odbc/odbc_handle.h"
#include "data/odbc/odbc_statement.h"
#include "data/update_plan.h"

namespace corvane::data {

class OdbcSession {
 public:
  // Connects with `connection_string` (ODBC grammar), waiting at most options.timeout for the
  // login, then finds the server's profile and sets the session up as it says (date reading,
  // lock waits limited to options.timeout, each statement to options.statement_limit less a
  // margin; options.watch, if any, holds the program to the limit itself, for a server that
  // cannot keep its own). options.read_only: the ODBC access mode is set read-only (where the
  // driver honours it) and the profile's read-only look begins.
  OdbcSession(const std::string& connection_string, const ConnectOptions& options);
  ~OdbcSession();
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  const EngineProfile& profile() const { return *profile_; }
  const std::string& dbms_name() const { return dbms_name_; }
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
  // Which columns of a described result are truth values the driver describes as TINYINT, as
  // the profile's question finds them in the server's catalog (once per table).
  std::vector<bool> TinyIntFlags(const OdbcColumns& description);
  // Runs an UPDATE of a row set's row through a statement prepared once per text; returns the
  // number of rows changed.
  long long ExecuteWrite(const UpdateStatement& write);
  // A cursor name not used before on this connection.
  std::string NewCursorName();

 private:
  void SetUp(const ConnectOptions& options);
  const std::vector<std::string>& TinyIntFlagColumns(const std::string& catalog,
                                                     const std::string& table);

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
  const EngineProfile* profile_ = nullptr;
  std::string quote_;
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> primary_keys_;
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> flag_columns_;
  // Destroyed before the login: statements go before their connection.
  std::map<std::string, std::unique_ptr<OdbcStatement>> writes_;
  unsigned cursors_ = 0;
};

// The driver names the driver manager knows (for choosing a SQL Server driver).
std::vector<std::string> InstalledOdbcDrivers();

}  // namespace corvane::data
