// A throwaway PostgreSQL server for the tests that need one: initdb into a temporary folder,
// `postgres` run as a child process (it dies with the test process), one fresh database per
// test, and the psqlODBC connection string to reach it.
//
// The server has no TCP port at all: it is reached only through its Unix socket, in a folder
// of its own that only the server's user may enter, so a test can never reach another test's
// server (and no one else can reach this one). Two logins: kLogin with kPassword, the one the
// program under test uses (its built-in password) and the owner of the test databases; and the superuser `postgres` with a secret made for this server alone, for psql's
// administrative work. (The same promises as every SqlServer.)
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sql_server.h"
#include "support/temp_dir.h"

namespace corvane::testing {

class PostgresServer : public SqlServer {
 public:
  // Whether the PostgreSQL server binaries and the psqlODBC driver are installed.
  static bool Installed();
  // True when CORVANE_REQUIRE_SERVICES=1: a missing server then fails a test instead of
  // skipping it.
  static bool Required();
  // The test binary's one server, started on first use and stopped when the binary ends.
  // Throws when it cannot be started.
  static PostgresServer& Shared();

  PostgresServer();
  ~PostgresServer() override;
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // The number in the socket's name (the server has no TCP port).
  int port() const { return port_; }
  const std::filesystem::path& socket_folder() const override { return sockets_; }
  // The postmaster's process id; -1 while stopped.
  pid_t pid() const override { return server_ ? server_->pid() : -1; }
  // Stops the server (fast shutdown: sessions are cut off) and starts it again on the same
  // data: for tests of a server that goes away in the middle of work.
  void Stop() override;
  void Restart() override;
  // Stops (SIGSTOP) and continues (SIGCONT) the postmaster alone, returning once it is stopped
  // or running: a frozen server. Its sessions' backends run on unless a test stops them too
  // (BackendPids). A frozen server, and any backend a test stopped, is continued before the
  // server is stopped or destroyed.
  void Freeze();
  void Thaw();
  // The processes serving client sessions of `database` now (psql's own excluded). Ask
  // before Freeze: a frozen postmaster accepts no new session to ask through.
  std::vector<pid_t> BackendPids(const std::string& database);
  // A new empty database (UTF-8) owned by kLogin; returns its name.
  std::string CreateDatabase() override;
  // Runs SQL text (several statements allowed) in `database` as kLogin; throws with psql's
  // message.
  void RunSql(const std::string& database, const std::string& sql) override;
  // psql meta-commands (\set, \i) work in `sql`.
  void RunSqlAsAdmin(const std::string& database, const std::string& sql) override;
  // psql running `sql` in `database` as kLogin, in the background.
  ChildProcess StartSql(const std::string& database, const std::string& sql) const override;
  std::vector<std::string> ClientArgs(const std::string& database) const override;
  ProcessOptions ClientOptions() const override;
  std::map<std::string, std::string> AdminClientEnvironment() const override;
  // The psqlODBC connection string for `database` as kLogin.
  std::string OdbcConnectionString(const std::string& database) const override;

 private:
  void Start();
  std::vector<std::string> PsqlArgs(const std::string& login, const std::string& database) const;
  ProcessOptions PsqlOptions(const std::string& login) const;
  ProcessResult Psql(const std::string& login, const std::string& database, const std::string& sql);

  TempDir dir_;
  std::filesystem::path data_;
  std::filesystem::path sockets_;
  std::string admin_secret_;
  int port_ = 5432;
  int databases_ = 0;
  bool frozen_ = false;
  std::unique_ptr<ChildProcess> server_;
};

// Points the ODBC driver manager at a private odbcinst.ini that lists psqlODBC (as "PostgreSQL
// Unicode") and MariaDB Connector/ODBC (as "MariaDB Unicode"), those installed, and no other
// driver, with no trace or communication log. Call before the first ODBC call of the process;
// later calls do nothing.
void UsePrivateOdbcConfig();

}  // namespace corvane::testing
