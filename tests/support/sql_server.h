// What the tests need of a throwaway database server (PostgreSQL, MariaDB), whichever it is: a
// fresh database for each test, SQL run beside the program, another client in the background,
// and the server going away and coming back.
//
// Each server runs in a temporary folder of its own, has no TCP port, and is reached only
// through its Unix socket in a folder only the server's user may enter. The program's login
// kLogin (password kPassword, the program's built-in one, used when the settings write none)
// owns the test databases; the server's administrator has a secret made for that server alone.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace corvane::testing {

class SqlServer {
 public:
  static constexpr const char* kLogin = "corvane";
  static constexpr const char* kPassword = "vantorel";

  virtual ~SqlServer() = default;

  // The server's main process; -1 while stopped.
  virtual pid_t pid() const = 0;
  virtual const std::filesystem::path& socket_folder() const = 0;
  // A new empty database (UTF-8) that kLogin may use as its owner; returns its name.
  virtual std::string CreateDatabase() = 0;
  // Runs SQL text (several statements allowed) in `database` as kLogin; throws with the
  // client's message.
  virtual void RunSql(const std::string& database, const std::string& sql) = 0;
  // The same as the server's administrator: what a database administrator sets up (logins,
  // grants).
  virtual void RunSqlAsAdmin(const std::string& database, const std::string& sql) = 0;
  // The server's own command-line client running `sql` in `database` as kLogin, in the
  // background: another client, e.g. one that holds a lock.
  virtual ChildProcess StartSql(const std::string& database, const std::string& sql) const = 0;
  // That client as kLogin in `database`, reading SQL from its standard input: its command line,
  // and the options it must be started with (its secret travels outside the command line).
  virtual std::vector<std::string> ClientArgs(const std::string& database) const = 0;
  virtual ProcessOptions ClientOptions() const = 0;
  // The environment that leads the engine's own client, started plainly by the system user the
  // setup pages name (postgres, root), to this server as its administrator.
  virtual std::map<std::string, std::string> AdminClientEnvironment() const = 0;
  // The ODBC connection string for `database` as kLogin, ending in ';' and without the
  // password part, as a settings file carries it.
  virtual std::string OdbcConnectionString(const std::string& database) const = 0;
  // Stops the server (its sessions are cut off) and starts it again on the same data.
  virtual void Stop() = 0;
  virtual void Restart() = 0;
};

}  // namespace corvane::testing
