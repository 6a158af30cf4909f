// Opening gConn from the settings and closing it at the Exit button.
#include "data/database.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "base/process_end.h"
#include "data/data_error.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

TEST(OpenDatabase, AppendsThePasswordPartTheServerAsksFor) {
  CORVANE_REQUIRE_POSTGRES();
  TestDatabase db(Engine::kPostgres);
  RunSettings settings;
  settings.gConnectString = db.SettingsConnectString();  // no password in the settings file
  data::ConnectOptions without_password;
  without_password.connection_string = settings.gConnectString;
  EXPECT_THROW(data::Connect(without_password), Error);

  auto gConn = data::OpenDatabase(settings, "/nonexistent");
  EXPECT_TRUE(gConn->OpenRowSet("SELECT * FROM Company")->eof());
}

TEST(OpenDatabase, FindsASqliteFileInTheProgramFolder) {
  TestDatabase db(Engine::kSqlite);
  db.Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 7');");
  RunSettings settings;
  settings.gConnectString = "Provider=SQLite;Data Source=corvane.db;";
  auto gConn = data::OpenDatabase(settings, db.folder());
  EXPECT_EQ(gConn->OpenRowSet("SELECT Name FROM Bus")->Field("Name"), Value("Coach 7"));
}

TEST(CloseAndEnd, ClosesTheConnectionThenEndsTheProcess) {
  TestDatabase db(Engine::kSqlite);
  auto gConn = db.Connect();
  try {
    data::CloseAndEnd(*gConn);
  } catch (const ProcessEnded& ended) {
    EXPECT_EQ(ended.status(), 0);
  }
  try {
    gConn->OpenRowSet("SELECT * FROM Bus");
    FAIL() << "the connection must be closed";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errnum::kObjectClosed);
  }
}

}  // namespace
}  // namespace corvane::testing
