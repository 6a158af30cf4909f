// A throwaway MariaDB server for the tests that need one: mariadb-install-db into a temporary
// folder, `mariadbd --no-defaults --skip-networking` run as a child process (killed with the test
// process; it keeps nothing outside its folder), one fresh utf8mb4 database per test, and the
// MariaDB Connector/ODBC connection string to reach it.
//
// The server runs as `mysql` when the tests run as root. Its only way in is the Unix socket in
// a folder only that user may enter. Logins: kLogin with kPassword (the program's), granted all
// on each test database; root with a secret made for this server alone. The accounts that
// install-db lets in by the operating-system user are dropped. Table names are case-sensitive,
// as on every Linux server (lower_case_table_names=0).
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

class MariaDbServer : public SqlServer {
 public:
  // Whether the MariaDB server, its client and MariaDB Connector/ODBC are installed.
  static bool Installed();
  // The test binary's one server, started on first use and stopped when the binary ends.
  // Throws when it cannot be started.
  static MariaDbServer& Shared();

  MariaDbServer();
  ~MariaDbServer() override;
  MariaDbServer(const MariaDbServer&) = delete;
  MariaDbServer& operator=(const MariaDbServer&) = delete;

  pid_t pid() const override { return server_ ? server_->pid() : -1; }
  const std::filesystem::path& socket_folder() const override { return sockets_; }
  std::string CreateDatabase() override;
  void RunSql(const std::string& database, const std::string& sql) override;
  void RunSqlAsAdmin(const std::string& database, const std::string& sql) override;
  ChildProcess StartSql(const std::string& database, const std::string& sql) const override;
  // The `mariadb` client; its login and secret come from an option file only this process's
  // user can read.
  std::vector<std::string> ClientArgs(const std::string& database) const override;
  ProcessOptions ClientOptions() const override;
  std::map<std::string, std::string> AdminClientEnvironment() const override;
  std::string OdbcConnectionString(const std::string& database) const override;
  // A clean shutdown (SIGTERM): sessions are cut off, the data stays.
  void Stop() override;
  void Restart() override;

 private:
  // As the server's user, with a temporary folder it may write in.
  ProcessOptions ServerOptions() const;
  void Start(bool first);
  ProcessResult Client(const std::string& database, const std::string& sql, bool as_admin);

  TempDir dir_;
  std::filesystem::path data_;
  std::filesystem::path sockets_;
  int databases_ = 0;
  std::unique_ptr<ChildProcess> server_;
};

// The installed MariaDB Connector/ODBC library, or an empty path.
std::filesystem::path MariaDbOdbcDriver();

}  // namespace corvane::testing
