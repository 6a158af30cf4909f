// A fresh database with the program's tables, on a real engine: an SQLite file in a temporary
// folder, or a new database on the test binary's PostgreSQL server (through psqlODBC).
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
#include "support/temp_dir.h"

namespace corvane {
// Readable values in test failures.
void PrintTo(const Value& value, std::ostream* out);
}  // namespace corvane

namespace corvane::testing {

enum class Engine { kSqlite, kPostgres };

std::string EngineTestName(const ::testing::TestParamInfo<Engine>& info);

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
  // The database's name on the shared PostgreSQL server.
  const std::string& postgres_database() const { return postgres_database_; }

 private:
  Engine engine_;
  TempDir folder_;
  std::string postgres_database_;
};

// Creates an SQLite file holding `sql`.
void CreateSqliteFile(const std::filesystem::path& file, const std::string& sql);
std::string SchemaText(Engine engine);

}  // namespace corvane::testing

// Skips the test without PostgreSQL, or fails it when services are required.
#define CORVANE_REQUIRE_POSTGRES()                                                            \
  do {                                                                                        \
    if (!::corvane::testing::PostgresServer::Installed()) {                                   \
      if (::corvane::testing::PostgresServer::Required()) {                                   \
        FAIL() << "PostgreSQL 15 / psqlODBC is not installed and CORVANE_REQUIRE_SERVICES=1"; \
      }                                                                                       \
      GTEST_SKIP() << "PostgreSQL 15 / psqlODBC is not installed";                            \
    }                                                                                         \
  } while (0)
