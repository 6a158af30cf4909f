// One ODBC connection to a server, shared by the connection object and its row sets: the
// environment and connection handles, what the server is (for the dialect), the primary keys of
// the tables it was asked about, and whether it was closed.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "data/dialect.h"
#include "data/odbc/odbc_handle.h"
#include "data/odbc/odbc_statement.h"

namespace corvane::data {

class OdbcSession {
 public:
  // Connects with `connection_string` (ODBC form), waiting at most `timeout` for the login and
  // for each later request, then pins the session's reading of date literals to month-day-year
  // and limits a wait for a row locked by another client to `timeout` (PostgreSQL, SQL Server).
  OdbcSession(const std::string& connection_string, std::chrono::seconds timeout);
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

  // A new statement on the connection.
  std::unique_ptr<OdbcStatement> NewStatement();
  // Quotes an identifier with the server's quote character.
  std::string Quote(const std::string& name) const;
  // The primary-key columns of a table, in key order (empty: none). Asked with the name as the
  // driver reported it: some catalogs match names case-sensitively.
  const std::vector<std::string>& PrimaryKey(const std::string& schema, const std::string& table);

 private:
  void RunSessionSetup(std::chrono::seconds timeout);

  // Disconnects before the connection handle is freed, also when the constructor fails after
  // the login.
  struct Login {
    SQLHDBC connection = SQL_NULL_HDBC;
    bool connected = false;
    ~Login() {
      if (connected) SQLDisconnect(connection);
    }
  };

  OdbcHandle environment_;
  OdbcHandle connection_;
  Login login_;
  std::string dbms_name_;
  std::string quote_;
  Dialect dialect_;
  std::map<std::pair<std::string, std::string>, std::vector<std::string>> primary_keys_;
};

}  // namespace corvane::data
