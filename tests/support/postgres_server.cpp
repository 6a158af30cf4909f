#include "support/postgres_server.h"

#include <pwd.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace corvane::testing {

namespace {

const std::filesystem::path kBin = "/usr/lib/postgresql/15/bin";

std::filesystem::path PsqlOdbcDriver() {
  for (const char* arch : {"x86_64-linux-gnu", "aarch64-linux-gnu"}) {
    const std::filesystem::path path =
        std::filesystem::path("/usr/lib") / arch / "odbc" / "psqlodbcw.so";
    if (std::filesystem::exists(path)) return path;
  }
  return {};
}

// initdb refuses to run as root: the server runs as `postgres` then, and owns its folder.
std::optional<std::string> ServerUser() {
  if (geteuid() != 0) return std::nullopt;
  return std::string("postgres");
}

void GiveToServerUser(const std::filesystem::path& path) {
  const auto user = ServerUser();
  if (!user) return;
  const passwd* entry = getpwnam(user->c_str());
  if (entry == nullptr || chown(path.c_str(), entry->pw_uid, entry->pw_gid) != 0) {
    throw std::runtime_error("cannot give " + path.string() + " to user " + *user);
  }
}

}  // namespace

bool PostgresServer::Installed() {
  return std::filesystem::exists(kBin / "postgres") && std::filesystem::exists(kBin / "initdb") &&
         std::filesystem::exists(kBin / "psql") && !PsqlOdbcDriver().empty();
}

bool PostgresServer::Required() {
  const char* value = std::getenv("CORVANE_REQUIRE_SERVICES");
  return value != nullptr && std::string(value) == "1";
}

PostgresServer& PostgresServer::Shared() {
  static std::unique_ptr<PostgresServer> server = std::make_unique<PostgresServer>();
  return *server;
}

PostgresServer::PostgresServer() {
  if (!Installed()) throw std::runtime_error("PostgreSQL 15 or psqlODBC is not installed");
  GiveToServerUser(dir_.path());
  data_ = dir_ / "data";
  sockets_ = dir_ / "sockets";
  std::filesystem::create_directory(sockets_);
  GiveToServerUser(sockets_);
  const std::filesystem::path password_file = dir_ / "password";
  WriteFile(password_file, kPassword);
  GiveToServerUser(password_file);

  ProcessOptions options;
  options.run_as_user = ServerUser();
  const ProcessResult init = Run(
      {(kBin / "initdb").string(), "-D", data_.string(), "-U", "postgres", "-A", "scram-sha-256",
       "--pwfile=" + password_file.string(), "-E", "UTF8", "--locale=C.UTF-8", "--no-sync"},
      options);
  if (init.exit_status != 0) throw std::runtime_error("initdb failed: " + init.err);
  // A port can be taken between FreePort and the bind: try a few.
  for (int attempt = 0; attempt < 3 && !server_; ++attempt) Start();
  if (!server_) {
    throw std::runtime_error("the PostgreSQL server did not start: " +
                             ReadFile(dir_ / "server.log"));
  }
}

void PostgresServer::Start() {
  port_ = FreePort();
  ProcessOptions options;
  options.run_as_user = ServerUser();
  options.stderr_file = dir_ / "server.log";
  auto server = std::make_unique<ChildProcess>(
      std::vector<std::string>{(kBin / "postgres").string(), "-D", data_.string(), "-p",
                               std::to_string(port_), "-k", sockets_.string(), "-c",
                               "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c",
                               "synchronous_commit=off", "-c", "full_page_writes=off"},
      options);
  if (!WaitForPort(port_, std::chrono::seconds(20))) return;
  // The port opens before the server accepts logins.
  for (int i = 0; i < 200 && server->running(); ++i) {
    bool ok = false;
    Psql("postgres", "SELECT 1", ok);
    if (ok) {
      server_ = std::move(server);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void PostgresServer::Stop() {
  if (server_) server_->Stop(SIGINT);
  server_.reset();
}

void PostgresServer::Restart() {
  Stop();
  for (int attempt = 0; attempt < 3 && !server_; ++attempt) Start();
  if (!server_) throw std::runtime_error("the PostgreSQL server did not start again");
}

PostgresServer::~PostgresServer() {
  if (server_) server_->Stop(SIGINT);  // fast shutdown: no shared memory is left behind
}

std::string PostgresServer::CreateDatabase() {
  const std::string name = "test_" + std::to_string(++databases_);
  RunSql("postgres", "CREATE DATABASE " + name + " ENCODING 'UTF8'");
  return name;
}

void PostgresServer::RunSql(const std::string& database, const std::string& sql) {
  bool ok = false;
  const std::string err = Psql(database, sql, ok);
  if (!ok) throw std::runtime_error("psql failed in " + database + ": " + err);
}

std::string PostgresServer::Psql(const std::string& database, const std::string& sql, bool& ok) {
  const std::filesystem::path script = dir_ / "script.sql";
  WriteFile(script, sql);
  ProcessOptions options;
  options.set_env = {{"PGPASSWORD", kPassword}, {"PGCONNECT_TIMEOUT", "5"}};
  const ProcessResult result =
      Run({(kBin / "psql").string(), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
           std::to_string(port_), "-U", "postgres", "-d", database, "-f", script.string()},
          options, std::chrono::seconds(60));
  ok = result.exit_status == 0;
  return result.err;
}

std::string PostgresServer::OdbcConnectionString(const std::string& database) const {
  return "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port_) +
         ";Database=" + database + ";UID=postgres;BoolsAsChar=0;";
}

void UsePrivateOdbcConfig() {
  static const std::unique_ptr<TempDir> folder = [] {
    auto dir = std::make_unique<TempDir>();
    WriteFile(*dir / "odbcinst.ini",
              "[PostgreSQL Unicode]\nDescription=psqlODBC for the tests\n"
              "Driver=" +
                  PsqlOdbcDriver().string() + "\n");
    WriteFile(*dir / "odbc.ini", "");
    setenv("ODBCSYSINI", dir->path().c_str(), 1);
    setenv("ODBCINI", (*dir / "odbc.ini").c_str(), 1);
    return dir;
  }();
}

}  // namespace corvane::testing
