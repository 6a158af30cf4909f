// A throwaway PostgreSQL server for the tests that need one: initdb into a temporary folder,
// `postgres` run as a child process on 127.0.0.1 (it dies with the test process), password
// login, one fresh database per test, and the psqlODBC connection string to reach it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::testing {

class PostgresServer {
 public:
  static constexpr const char* kPassword = "vantorel";

  // Whether the PostgreSQL server binaries and the psqlODBC driver are installed.
  static bool Installed();
  // True when CORVANE_REQUIRE_SERVICES=1: a missing server then fails a test instead of
  // skipping it.
  static bool Required();
  // The test binary's one server, started on first use and stopped when the binary ends.
  // Throws when it cannot be started.
  static PostgresServer& Shared();

  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int port() const { return port_; }
  // Stops the server (fast shutdown: sessions are cut off) and starts it again on the same
  // data, perhaps on another port: for tests of a server that goes away in the middle of work.
  void Stop();
  void Restart();
  // A new empty database (UTF-8); returns its name.
  std::string CreateDatabase();
  // Runs SQL text (several statements allowed) in `database`; throws with psql's message.
  void RunSql(const std::string& database, const std::string& sql);
  // The psqlODBC connection string for `database`, ending in ';' and without the password
  // part, as a settings file carries it.
  std::string OdbcConnectionString(const std::string& database) const;

 private:
  void Start();
  std::string Psql(const std::string& database, const std::string& sql, bool& ok);

  TempDir dir_;
  std::filesystem::path data_;
  std::filesystem::path sockets_;
  int port_ = 0;
  int databases_ = 0;
  std::unique_ptr<ChildProcess> server_;
};

// Points the ODBC driver manager at a private odbcinst.ini that lists psqlODBC (as "PostgreSQL
// Unicode") and no other driver, with no trace or communication log. Call before the first ODBC
// call of the process; later calls do nothing.
void UsePrivateOdbcConfig();

}  // namespace corvane::testing
