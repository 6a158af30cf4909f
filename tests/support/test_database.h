// A fresh database with the program's tables, on a real engine: an SQLite file in a temporary
// folder, or a new database on the test binary's PostgreSQL server (through psqlODBC) or MariaDB
// server (through MariaDB Connector/ODBC).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "base/value.h"
#include "data/connection.h"
#include "support/postgres_server.h"
#include "support/smtp_server.h"
#include "support/sql_server.h"
#include "support/temp_dir.h"

namespace corvane {
// Readable values in test failures.
void PrintTo(const Value& value, std::ostream* out);
}  // namespace corvane

namespace corvane::testing {

enum class Engine { kSqlite, kPostgres, kMariaDb };

// "SQLite", "PostgreSQL", "MariaDB": test names, and what a failure says.
std::string EngineName(Engine engine);
std::string EngineTestName(const ::testing::TestParamInfo<Engine>& info);
// The engine's server and ODBC driver, where it has them (for CORVANE_REQUIRE_ENGINE).
ServiceCheck EngineAvailable(Engine engine);
// The test binary's one server of a server engine, started on first use.
SqlServer& SharedServer(Engine engine);
// The parameters of a test that runs on every engine, or on every engine with a server.
inline auto AllEngines() {
  return ::testing::Values(Engine::kSqlite, Engine::kPostgres, Engine::kMariaDb);
}
inline auto ServerEngines() {
  return ::testing::Values(Engine::kPostgres, Engine::kMariaDb);
}

class TestDatabase {
 public:
  explicit TestDatabase(Engine engine);

  Engine engine() const { return engine_; }
  // Runs SQL beside the connection under test (as another client would).
  void Exec(const std::string& sql);
  // The connection string as a settings file carries it (no password part).
  std::string SettingsConnectString() const;
  data::ConnectOptions Options() const;
  std::unique_ptr<data::Connection> Connect() const;
  const std::filesystem::path& folder() const { return folder_.path(); }
  std::filesystem::path sqlite_file() const { return folder_ / "corvane.db"; }
  // The database's server (the engine's shared one) and its name there.
  SqlServer& server() const { return SharedServer(engine_); }
  const std::string& server_database() const { return server_database_; }
  const std::string& postgres_database() const { return server_database_; }

 private:
  Engine engine_;
  TempDir folder_;
  std::string server_database_;
};

// Creates an SQLite file holding `sql`.
void CreateSqliteFile(const std::filesystem::path& file, const std::string& sql);
std::string SchemaText(Engine engine);

}  // namespace corvane::testing

// Skips the test without the engine's server and driver, or fails it when services are
// required.
#define CORVANE_REQUIRE_ENGINE(engine) \
  CORVANE_REQUIRE_SERVICE(::corvane::testing::EngineAvailable(engine))
#define CORVANE_REQUIRE_POSTGRES() CORVANE_REQUIRE_ENGINE(::corvane::testing::Engine::kPostgres)
