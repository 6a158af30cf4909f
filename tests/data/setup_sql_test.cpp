// The setup pages' SQL on the test servers, as a database administrator runs it: the schema, the
// Company row (sql/company.sql) and the grants (sql/setup-*.sql). A login with just those grants
// reads what the passes read and marks EmailSent, and may change nothing else. On PostgreSQL the
// login has a password of its own, written in the settings; on MariaDB the settings write none
// and the built-in one logs in.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/error.h"
#include "data/company.h"
#include "data/database.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

std::string SqlFile(const std::string& name) {
  return ReadFile(fs::path(CORVANE_SOURCE_DIR) / "sql" / name);
}

class SetupSql : public ::testing::TestWithParam<Engine> {};

TEST_P(SetupSql, LetsTheRunReadAndTheFleetPassesMarkAndNothingMore) {
  CORVANE_REQUIRE_ENGINE(GetParam());
  SqlServer& server = SharedServer(GetParam());
  const std::string database = server.CreateDatabase();
  const std::string rows =
      SqlFile("company.sql") + "INSERT INTO HexmileTicket (ID, EmailSent) VALUES (1, 0);\n";
  RunSettings settings;
  settings.gConnectString = server.OdbcConnectionString(database);
  if (GetParam() == Engine::kPostgres) {
    const std::string password = RandomSecret();
    server.RunSqlAsAdmin(database, SqlFile("schema-postgres.sql") + rows +
                                       "CREATE ROLE corvane_own LOGIN PASSWORD '" + password +
                                       "';\n\\set login corvane_own\n\\i " CORVANE_SOURCE_DIR
                                       "/sql/setup-postgres.sql\n");
    const std::string login = "UID=corvane;";
    settings.gConnectString.replace(settings.gConnectString.find(login), login.size(),
                                    "UID=corvane_own;PWD=" + password + ";");
  } else {
    server.RunSqlAsAdmin(database,
                         "REVOKE ALL PRIVILEGES ON " + database + ".* FROM corvane@localhost;\n" +
                             SqlFile("schema-mariadb.sql") + rows + SqlFile("setup-mariadb.sql"));
  }

  auto gConn = data::OpenDatabase(settings, "/nonexistent");
  data::LoadCompany(*gConn, settings);
  EXPECT_EQ(settings.gEmailServer, "smtp://mail.corvanetours.com:587");
  for (const char* table :
       {"TourItems", "Tour", "Customer", "Invoice", "Bus", "Driver", "HexmileAction"}) {
    EXPECT_NO_THROW(gConn->OpenRowSet(std::string("SELECT * FROM ") + table)) << table;
  }
  auto tickets = gConn->OpenRowSet("SELECT * FROM HexmileTicket");
  tickets->SetField("EmailSent", Value(true));
  EXPECT_NO_THROW(tickets->Update());
  tickets->SetField("Status", Value("Closed"));
  EXPECT_THROW(tickets->Update(), Error);
}

INSTANTIATE_TEST_SUITE_P(Engines, SetupSql, ServerEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
