#include "support/test_database.h"

#include <sqlite3.h>

#include <stdexcept>

#include "base/text_form.h"
#include "support/mariadb_server.h"
#include "support/postgres_server.h"

namespace corvane {

void PrintTo(const Value& value, std::ostream* out) {
  switch (value.type()) {
    case Value::Type::kEmpty:
      *out << "Empty";
      break;
    case Value::Type::kNull:
      *out << "Null";
      break;
    case Value::Type::kBoolean:
      *out << (value.boolean() ? "True" : "False");
      break;
    case Value::Type::kInteger:
      *out << value.integer();
      break;
    case Value::Type::kDouble:
      *out << value.real() << " (double)";
      break;
    case Value::Type::kDateTime:
      *out << "#" << GeneralDate(value.date()) << "#";
      break;
    case Value::Type::kText:
      *out << '"' << value.text() << '"';
      break;
  }
}

}  // namespace corvane

namespace corvane::testing {

std::string EngineName(Engine engine) {
  switch (engine) {
    case Engine::kSqlite:
      return "SQLite";
    case Engine::kPostgres:
      return "PostgreSQL";
    case Engine::kMariaDb:
      return "MariaDB";
  }
  return "?";
}

std::string EngineTestName(const ::testing::TestParamInfo<Engine>& info) {
  return EngineName(info.param);
}

ServiceCheck EngineAvailable(Engine engine) {
  if (engine == Engine::kPostgres && !PostgresServer::Installed()) {
    return {false, "PostgreSQL 15 / psqlODBC"};
  }
  if (engine == Engine::kMariaDb && !MariaDbServer::Installed()) {
    return {false, "MariaDB / MariaDB Connector/ODBC"};
  }
  return {};
}

SqlServer& SharedServer(Engine engine) {
  UsePrivateOdbcConfig();  // before the first connection to it, here or in the program
  if (engine == Engine::kMariaDb) return MariaDbServer::Shared();
  if (engine == Engine::kPostgres) return PostgresServer::Shared();
  throw std::logic_error("SQLite has no server");
}

std::string SchemaText(Engine engine) {
  const char* file = engine == Engine::kSqlite     ? "schema-sqlite.sql"
                     : engine == Engine::kPostgres ? "schema-postgres.sql"
                                                   : "schema-mariadb.sql";
  return ReadFile(std::filesystem::path(CORVANE_SOURCE_DIR) / "sql" / file);
}

void CreateSqliteFile(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  char* error = nullptr;
  if (rc != SQLITE_OK || sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error != nullptr ? error : sqlite3_errmsg(raw);
    sqlite3_free(error);
    throw std::runtime_error("sqlite: " + message);
  }
}

TestDatabase::TestDatabase(Engine engine) : engine_(engine) {
  if (engine_ == Engine::kSqlite) {
    CreateSqliteFile(sqlite_file(), SchemaText(engine_));
  } else {
    server_database_ = server().CreateDatabase();
    Exec(SchemaText(engine_));
  }
}

void TestDatabase::Exec(const std::string& sql) {
  if (engine_ == Engine::kSqlite) {
    CreateSqliteFile(sqlite_file(), sql);
  } else {
    server().RunSql(server_database_, sql);
  }
}

std::string TestDatabase::SettingsConnectString() const {
  if (engine_ == Engine::kSqlite) return "Provider=SQLite;Data Source=corvane.db;";
  return server().OdbcConnectionString(server_database_);
}

data::ConnectOptions TestDatabase::Options() const {
  data::ConnectOptions options;
  options.connection_string = SettingsConnectString() + "PWD=vantorel;";
  options.base_folder = folder_.path();
  return options;
}

std::unique_ptr<data::Connection> TestDatabase::Connect() const {
  return data::Connect(Options());
}

}  // namespace corvane::testing
