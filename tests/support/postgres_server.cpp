#include "support/postgres_server.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/mariadb_server.h"

namespace corvane::testing {

namespace {

namespace fs = std::filesystem;

const fs::path kBin = "/usr/lib/postgresql/15/bin";
constexpr const char* kAdmin = "postgres";

fs::path PsqlOdbcDriver() {
  for (const char* arch : {"x86_64-linux-gnu", "aarch64-linux-gnu"}) {
    const fs::path path = fs::path("/usr/lib") / arch / "odbc" / "psqlodbcw.so";
    if (fs::exists(path)) return path;
  }
  return {};
}

// initdb refuses to run as root: the server runs as `postgres` then, and owns its folder.
std::optional<std::string> ServerUser() {
  if (geteuid() != 0) return std::nullopt;
  return std::string("postgres");
}

void GiveToServerUser(const fs::path& path) {
  if (const auto user = ServerUser()) GiveToUser(path, *user);
}

// The postmaster writes "ready" as the last line of postmaster.pid once it accepts sessions
// (what pg_ctl waits for); the first line is its process id.
bool ServerReady(const fs::path& data, pid_t pid) {
  std::ifstream file(data / "postmaster.pid");
  std::string line, first, last;
  for (int n = 0; std::getline(file, line); ++n) {
    if (n == 0) first = line;
    last = line;
  }
  return first == std::to_string(pid) && last.starts_with("ready");
}

std::string Quoted(const std::string& name) {
  return "'" + name + "'";  // test names only: no quotes inside
}

}  // namespace

bool PostgresServer::Installed() {
  return fs::exists(kBin / "postgres") && fs::exists(kBin / "initdb") &&
         fs::exists(kBin / "psql") && !PsqlOdbcDriver().empty();
}

bool PostgresServer::Required() {
  const char* value = std::getenv("CORVANE_REQUIRE_SERVICES");
  return value != nullptr && std::string(value) == "1";
}

PostgresServer& PostgresServer::Shared() {
  static std::unique_ptr<PostgresServer> server = std::make_unique<PostgresServer>();
  return *server;
}

PostgresServer::PostgresServer() : admin_secret_(RandomSecret()) {
  if (!Installed()) throw std::runtime_error("PostgreSQL 15 or psqlODBC is not installed");
  data_ = dir_ / "data";
  sockets_ = MakeServerFolder(dir_.path(), ServerUser());
  {
    const fs::path password_file = dir_ / "password";
    WriteFile(password_file, admin_secret_);
    fs::permissions(password_file, fs::perms::owner_read | fs::perms::owner_write);
    GiveToServerUser(password_file);
    ProcessOptions options;
    options.run_as_user = ServerUser();
    const ProcessResult init =
        Run({(kBin / "initdb").string(), "-D", data_.string(), "-U", kAdmin, "-A", "scram-sha-256",
             "--pwfile=" + password_file.string(), "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
            options);
    fs::remove(password_file);
    if (init.exit_status != 0) throw std::runtime_error("initdb failed: " + init.err);
  }
  Start();
  const ProcessResult role =
      Psql(kAdmin, "postgres",
           "CREATE ROLE " + std::string(kLogin) + " LOGIN PASSWORD " + Quoted(kPassword));
  if (role.exit_status != 0) throw std::runtime_error("psql failed: " + role.err);
}

void PostgresServer::Start() {
  ProcessOptions options;
  options.run_as_user = ServerUser();
  options.stderr_file = dir_ / "server.log";
  // An immediate shutdown when the test process dies: the postmaster still ends its sessions
  // and removes its shared memory, which a SIGKILL would leave behind.
  options.death_signal = SIGQUIT;
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{(kBin / "postgres").string(), "-D", data_.string(), "-p",
                               std::to_string(port_), "-k", sockets_.string(), "-c",
                               "listen_addresses=", "-c", "unix_socket_permissions=0700", "-c",
                               "dynamic_shared_memory_type=mmap", "-c", "fsync=off", "-c",
                               "synchronous_commit=off", "-c", "full_page_writes=off"},
      options);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ServerReady(data_, server_->pid())) {
    if (!server_->running() || std::chrono::steady_clock::now() > deadline) {
      server_.reset();
      throw std::runtime_error("the PostgreSQL server did not start: " +
                               ReadFile(dir_ / "server.log"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void PostgresServer::Stop() {
  Thaw();
  if (!server_) return;
  // A backend a test stopped would hold up the shutdown, and outlive it.
  for (const pid_t child : ChildrenOf(server_->pid())) kill(child, SIGCONT);
  server_->Stop(SIGINT);  // fast shutdown: no shared memory is left behind
  server_.reset();
}

void PostgresServer::Restart() {
  Stop();
  Start();
}

PostgresServer::~PostgresServer() {
  Stop();
}

namespace {

// Signals arrive a moment after kill(): waits (bounded) until `pid` is stopped or not.
void SignalAndAwait(pid_t pid, int signal, bool stopped) {
  kill(pid, signal);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((ProcessState(pid) == 'T') != stopped && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

void PostgresServer::Freeze() {
  if (!server_ || frozen_) return;
  SignalAndAwait(server_->pid(), SIGSTOP, true);
  frozen_ = true;
}

void PostgresServer::Thaw() {
  if (!server_ || !frozen_) return;
  SignalAndAwait(server_->pid(), SIGCONT, false);
  frozen_ = false;
}

std::vector<pid_t> PostgresServer::BackendPids(const std::string& database) {
  const ProcessResult result =
      Psql(kAdmin, "postgres",
           "SELECT pid FROM pg_stat_activity WHERE backend_type = 'client backend' AND "
           "pid <> pg_backend_pid() AND datname = " +
               Quoted(database) + " ORDER BY pid");
  if (result.exit_status != 0) throw std::runtime_error("psql failed: " + result.err);
  std::vector<pid_t> pids;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) pids.push_back(static_cast<pid_t>(std::stol(line)));
  }
  return pids;
}

std::string PostgresServer::CreateDatabase() {
  const std::string name = "test_" + std::to_string(++databases_);
  const ProcessResult result =
      Psql(kAdmin, "postgres", "CREATE DATABASE " + name + " OWNER " + kLogin + " ENCODING 'UTF8'");
  if (result.exit_status != 0) throw std::runtime_error("psql failed: " + result.err);
  return name;
}

void PostgresServer::RunSql(const std::string& database, const std::string& sql) {
  const ProcessResult result = Psql(kLogin, database, sql);
  if (result.exit_status != 0) {
    throw std::runtime_error("psql failed in " + database + ": " + result.err);
  }
}

void PostgresServer::RunSqlAsAdmin(const std::string& database, const std::string& sql) {
  const ProcessResult result = Psql(kAdmin, database, sql);
  if (result.exit_status != 0) {
    throw std::runtime_error("psql failed in " + database + ": " + result.err);
  }
}

std::vector<std::string> PostgresServer::PsqlArgs(const std::string& login,
                                                  const std::string& database) const {
  return {(kBin / "psql").string(),
          "-X",
          "-q",
          "-A",
          "-t",
          "-v",
          "ON_ERROR_STOP=1",
          "-h",
          sockets_.string(),
          "-p",
          std::to_string(port_),
          "-U",
          login,
          "-d",
          database};
}

ProcessOptions PostgresServer::PsqlOptions(const std::string& login) const {
  ProcessOptions options;
  // In the environment, which only this user can read, not on the command line.
  options.set_env = {{"PGPASSWORD", login == kAdmin ? admin_secret_ : kPassword},
                     {"PGCONNECT_TIMEOUT", "10"}};
  return options;
}

ProcessResult PostgresServer::Psql(const std::string& login, const std::string& database,
                                   const std::string& sql) {
  const fs::path script = dir_ / "script.sql";
  WriteFile(script, sql);
  std::vector<std::string> argv = PsqlArgs(login, database);
  argv.insert(argv.end(), {"-f", script.string()});
  return Run(argv, PsqlOptions(login), std::chrono::seconds(60));
}

std::vector<std::string> PostgresServer::ClientArgs(const std::string& database) const {
  return PsqlArgs(kLogin, database);
}

ProcessOptions PostgresServer::ClientOptions() const {
  return PsqlOptions(kLogin);
}

std::map<std::string, std::string> PostgresServer::AdminClientEnvironment() const {
  std::map<std::string, std::string> env = PsqlOptions(kAdmin).set_env;
  env["PGHOST"] = sockets_.string();
  env["PGPORT"] = std::to_string(port_);
  return env;
}

ChildProcess PostgresServer::StartSql(const std::string& database, const std::string& sql) const {
  std::vector<std::string> argv = PsqlArgs(kLogin, database);
  argv.insert(argv.end(), {"-c", sql});
  return ChildProcess(argv, PsqlOptions(kLogin));
}

// psqlODBC (13.02 here) passes Server to libpq as its host, and libpq takes a host that starts
// with '/' for the folder of the server's Unix socket, with Port naming the socket.
std::string PostgresServer::OdbcConnectionString(const std::string& database) const {
  return "Driver={PostgreSQL Unicode};Server=" + sockets_.string() +
         ";Port=" + std::to_string(port_) + ";Database=" + database + ";UID=" + kLogin +
         ";BoolsAsChar=0;";
}

void UsePrivateOdbcConfig() {
  static const std::unique_ptr<TempDir> folder = [] {
    auto dir = std::make_unique<TempDir>();
    std::string drivers;
    if (!PsqlOdbcDriver().empty()) {
      drivers += "[PostgreSQL Unicode]\nDescription=psqlODBC for the tests\nDriver=" +
                 PsqlOdbcDriver().string() + "\n";
    }
    if (!MariaDbOdbcDriver().empty()) {
      drivers += "[MariaDB Unicode]\nDescription=MariaDB Connector/ODBC for the tests\nDriver=" +
                 MariaDbOdbcDriver().string() + "\n";
    }
    WriteFile(*dir / "odbcinst.ini", drivers);
    WriteFile(*dir / "odbc.ini", "");
    setenv("ODBCSYSINI", dir->path().c_str(), 1);
    setenv("ODBCINI", (*dir / "odbc.ini").c_str(), 1);
    return dir;
  }();
}

}  // namespace corvane::testing
