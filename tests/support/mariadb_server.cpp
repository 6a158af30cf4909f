#include "support/mariadb_server.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <thread>

namespace corvane::testing {

namespace {

namespace fs = std::filesystem;

const fs::path kServer = "/usr/sbin/mariadbd";
const fs::path kInstallDb = "/usr/bin/mariadb-install-db";
const fs::path kClient = "/usr/bin/mariadb";
// A small redo log: the default pre-allocates 96 MiB per server.
constexpr const char* kLogFileSize = "--innodb-log-file-size=8M";

// mariadbd will not run as root: it runs as `mysql` then, and owns its folders.
std::optional<std::string> ServerUser() {
  if (geteuid() != 0) return std::nullopt;
  return std::string("mysql");
}

void GiveToServerUser(const fs::path& path) {
  if (const auto user = ServerUser()) GiveToUser(path, *user);
}

// install-db lets one operating-system user in through the socket without a secret, by that
// user's name (root's account then): the server's own user, whose account goes, so that only the
// two logins with secrets remain.
std::string InstallDbSocketUser() {
  if (const auto user = ServerUser()) return *user;
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

// An option file for the client: the login and its secret stay out of the command line.
void WriteClientOptions(const fs::path& file, const std::string& user, const std::string& secret,
                        const fs::path& socket) {
  WriteFile(file, "[client]\nuser=" + user + "\npassword=" + secret + "\nsocket=" +
                      socket.string() + "\ndefault-character-set=utf8mb4\nconnect-timeout=10\n");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace

fs::path MariaDbOdbcDriver() {
  for (const char* arch : {"x86_64-linux-gnu", "aarch64-linux-gnu"}) {
    const fs::path path = fs::path("/usr/lib") / arch / "odbc" / "libmaodbc.so";
    if (fs::exists(path)) return path;
  }
  return {};
}

bool MariaDbServer::Installed() {
  return fs::exists(kServer) && fs::exists(kInstallDb) && fs::exists(kClient) &&
         !MariaDbOdbcDriver().empty();
}

MariaDbServer& MariaDbServer::Shared() {
  static std::unique_ptr<MariaDbServer> server = std::make_unique<MariaDbServer>();
  return *server;
}

MariaDbServer::MariaDbServer() {
  if (!Installed()) throw std::runtime_error("MariaDB or MariaDB Connector/ODBC is not installed");
  data_ = dir_ / "data";
  sockets_ = MakeServerFolder(dir_.path(), ServerUser());

  // The test run's TMPDIR is not the server user's to write in: it gets a folder of its own.
  const fs::path tmp = dir_ / "tmp";
  fs::create_directory(tmp);
  GiveToServerUser(tmp);
  ProcessOptions options = ServerOptions();
  const std::string socket_user = InstallDbSocketUser();
  const ProcessResult init =
      Run({kInstallDb.string(), "--no-defaults", "--datadir=" + data_.string(), "--skip-test-db",
           "--skip-name-resolve", "--auth-root-socket-user=" + socket_user, kLogFileSize},
          options);
  if (init.exit_status != 0) {
    throw std::runtime_error("mariadb-install-db failed: " + init.err + init.out);
  }
  const std::string admin_secret = RandomSecret();
  const fs::path socket = sockets_ / "mysqld.sock";
  WriteClientOptions(dir_ / "admin.cnf", "root", admin_secret, socket);
  fs::create_directory(dir_ / "admin-home");
  WriteClientOptions(dir_ / "admin-home" / ".my.cnf", "root", admin_secret, socket);
  WriteClientOptions(dir_ / "login.cnf", kLogin, kPassword, socket);
  // Read by the server once, at its first start, with every privilege.
  const fs::path setup = dir_ / "setup.sql";
  WriteFile(setup,
            "ALTER USER root@localhost IDENTIFIED VIA mysql_native_password USING PASSWORD('" +
                admin_secret + "');\n" +
                (socket_user.empty() || socket_user == "root"
                     ? std::string()
                     : "DROP USER IF EXISTS '" + socket_user + "'@localhost;\n") +
                "CREATE USER " + kLogin + "@localhost IDENTIFIED BY '" + kPassword + "';\n");
  fs::permissions(setup, fs::perms::owner_read | fs::perms::owner_write);
  GiveToServerUser(setup);
  try {
    Start(true);
  } catch (...) {
    fs::remove(setup);
    throw;
  }
  fs::remove(setup);
}

ProcessOptions MariaDbServer::ServerOptions() const {
  ProcessOptions options;
  options.run_as_user = ServerUser();
  options.set_env["TMPDIR"] = (dir_ / "tmp").string();
  return options;
}

void MariaDbServer::Start(bool first) {
  ProcessOptions options = ServerOptions();
  const fs::path log = dir_ / "server.log";
  options.stderr_file = log;
  std::vector<std::string> argv = {kServer.string(),
                                   "--no-defaults",
                                   "--datadir=" + data_.string(),
                                   "--socket=" + (sockets_ / "mysqld.sock").string(),
                                   "--pid-file=" + (sockets_ / "mysqld.pid").string(),
                                   "--skip-networking",
                                   "--skip-name-resolve",
                                   "--lower-case-table-names=0",
                                   "--character-set-server=utf8mb4",
                                   "--collation-server=utf8mb4_unicode_520_ci",
                                   "--innodb-buffer-pool-size=32M",
                                   kLogFileSize,
                                   "--innodb-flush-log-at-trx-commit=0",
                                   "--innodb-doublewrite=0",
                                   "--max-connections=100"};
  if (first) argv.push_back("--init-file=" + (dir_ / "setup.sql").string());
  server_ = std::make_unique<ChildProcess>(argv, options);
  // The server says so in its log once the setup ran and it takes sessions on its socket.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFile(log).find("ready for connections") == std::string::npos) {
    if (!server_->running() || std::chrono::steady_clock::now() > deadline) {
      server_.reset();
      throw std::runtime_error("the MariaDB server did not start: " + ReadFile(log));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void MariaDbServer::Stop() {
  if (!server_) return;
  server_->Stop(SIGTERM);  // a clean shutdown; sessions are cut off
  server_.reset();
}

void MariaDbServer::Restart() {
  Stop();
  Start(false);
}

MariaDbServer::~MariaDbServer() {
  Stop();
}

std::string MariaDbServer::CreateDatabase() {
  const std::string name = "test_" + std::to_string(++databases_);
  const ProcessResult result =
      Client("",
             "CREATE DATABASE " + name +
                 " CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_520_ci; GRANT ALL ON " + name +
                 ".* TO " + kLogin + "@localhost;",
             true);
  if (result.exit_status != 0) throw std::runtime_error("mariadb failed: " + result.err);
  return name;
}

void MariaDbServer::RunSql(const std::string& database, const std::string& sql) {
  const ProcessResult result = Client(database, sql, false);
  if (result.exit_status != 0) {
    throw std::runtime_error("mariadb failed in " + database + ": " + result.err);
  }
}

void MariaDbServer::RunSqlAsAdmin(const std::string& database, const std::string& sql) {
  const ProcessResult result = Client(database, sql, true);
  if (result.exit_status != 0) {
    throw std::runtime_error("mariadb failed in " + database + ": " + result.err);
  }
}

std::vector<std::string> MariaDbServer::ClientArgs(const std::string& database) const {
  std::vector<std::string> argv = {kClient.string(),
                                   "--defaults-file=" + (dir_ / "login.cnf").string(), "--batch",
                                   "--skip-column-names"};
  if (!database.empty()) argv.push_back("--database=" + database);
  return argv;
}

ProcessOptions MariaDbServer::ClientOptions() const {
  return {};
}

// The administrator's own option file, which the client reads after the system's (whose socket
// it overrides; the MYSQL_UNIX_PORT variable would not).
std::map<std::string, std::string> MariaDbServer::AdminClientEnvironment() const {
  return {{"HOME", (dir_ / "admin-home").string()}};
}

ProcessResult MariaDbServer::Client(const std::string& database, const std::string& sql,
                                    bool as_admin) {
  std::vector<std::string> argv = ClientArgs(database);
  if (as_admin) argv[1] = "--defaults-file=" + (dir_ / "admin.cnf").string();
  // From standard input: the client stops at the first failing statement (its "source" would
  // go on), and DELIMITER works for triggers.
  const fs::path script = dir_ / "script.sql";
  WriteFile(script, sql);
  ProcessOptions options = ClientOptions();
  options.stdin_file = script;
  return Run(argv, options, std::chrono::seconds(60));
}

ChildProcess MariaDbServer::StartSql(const std::string& database, const std::string& sql) const {
  std::vector<std::string> argv = ClientArgs(database);
  argv.insert(argv.end(), {"--unbuffered", "--execute=" + sql});
  return ChildProcess(argv, ClientOptions());
}

// Connector/ODBC takes Socket for the server's Unix socket; Server must still name the host.
std::string MariaDbServer::OdbcConnectionString(const std::string& database) const {
  return "Driver={MariaDB Unicode};Server=localhost;Socket=" + (sockets_ / "mysqld.sock").string() +
         ";Database=" + database + ";UID=" + kLogin + ";";
}

}  // namespace corvane::testing
