// What only the ODBC engine does, on a PostgreSQL server through psqlODBC: the session reads
// US-English dates whatever the client environment says, a query's rows come through a cursor,
// a password in the settings reaches the driver intact in either grammar, logins fail with the
// server's diagnostics, and an unreachable server fails within the time-out.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>

#include "base/error.h"
#include "data/connection.h"
#include "support/loopback_socket.h"
#include "support/program_folder.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

class PostgresEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_POSTGRES();
    db_.emplace(Engine::kPostgres);
  }
  std::optional<TestDatabase> db_;
};

std::string ConnectFailure(const data::ConnectOptions& options) {
  try {
    data::Connect(options);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
    EXPECT_NE(e.number(), 0);
    return e.description();
  }
  return "no failure";
}

data::ConnectOptions Unreachable(int port, std::chrono::seconds timeout) {
  data::ConnectOptions options;
  options.connection_string =
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port) +
      ";Database=x;UID=postgres;PWD=vantorel;";
  options.timeout = timeout;
  return options;
}

TEST_F(PostgresEngine, SessionReadsUsShortDatesWhateverTheClientEnvironmentSays) {
  setenv("PGDATESTYLE", "ISO, DMY", 1);
  auto conn = db_->Connect();
  unsetenv("PGDATESTYLE");
  EXPECT_EQ(conn->EngineName(), "PostgreSQL");
  auto rs = conn->OpenRowSet(
      "SELECT CAST('12/7/2026' AS DATE) AS D, "
      "CAST('1/2/2027 10:00:00' AS TIMESTAMP) AS T");
  EXPECT_EQ(rs->Field("D"), Value(DateTime::FromParts(2026, 12, 7)));
  EXPECT_EQ(rs->Field("T"), Value(DateTime::FromParts(2027, 1, 2, 10, 0, 0)));
}

TEST_F(PostgresEngine, BooleansReadAsBooleansAlsoWithoutBoolsAsChar) {
  db_->Exec(
      "INSERT INTO HexmileAction (ID, EmailDriver, EmailSent) VALUES (1, TRUE, 0);"
      "INSERT INTO HexmileAction (ID, EmailDriver, EmailSent) VALUES (2, FALSE, 0);");
  data::ConnectOptions options = db_->Options();
  const std::string setting = "BoolsAsChar=0;";
  options.connection_string.erase(options.connection_string.find(setting), setting.size());
  auto conn = data::Connect(options);
  auto rs = conn->OpenRowSet("SELECT ID, EmailDriver FROM HexmileAction ORDER BY ID");
  EXPECT_EQ(rs->Field("EmailDriver"), Value(true));
  rs->MoveNext();
  EXPECT_EQ(rs->Field("EmailDriver"), Value(false));
}

TEST_F(PostgresEngine, AQuerysRowsComeInPiecesThroughACursorClosedAtTheirEnd) {
  auto conn = db_->Connect();
  auto open_cursors = [&] {
    return conn->Prepare("SELECT COUNT(*) AS Open FROM pg_cursors WHERE name LIKE 'corvane%'")
        ->OpenRowSet()
        ->Field("Open");
  };
  // Two full pieces and the empty one that ends them.
  auto rows = conn->OpenRowSet("SELECT i FROM generate_series(1, 2000) AS g(i) ORDER BY i");
  EXPECT_EQ(open_cursors(), Value(1));
  long long count = 0, sum = 0;
  for (; !rows->eof(); rows->MoveNext(), ++count) sum += rows->Field("i").integer();
  EXPECT_EQ(count, 2000);
  EXPECT_EQ(sum, 2000LL * 2001 / 2);
  EXPECT_EQ(open_cursors(), Value(0));
}

TEST_F(PostgresEngine, WrongPasswordFailsWithTheServersDiagnostics) {
  data::ConnectOptions options = db_->Options();
  options.connection_string = db_->SettingsConnectString() + "PWD=wrong;";
  const std::string failure = ConnectFailure(options);
  EXPECT_NE(failure.find("password authentication failed"), std::string::npos) << failure;
  EXPECT_NE(failure.find("[08001]"), std::string::npos) << failure;
}

// A login password the settings carry, with the program's own Command Timeout beside it.
struct SettingsPassword {
  std::string name;
  std::string password;  // the login's
  std::string written;   // the connection string of config.txt item 3 around the server's parts
};

void PrintTo(const SettingsPassword& password, std::ostream* out) {
  *out << password.name;
}

class PasswordInTheSettings : public ::testing::TestWithParam<SettingsPassword> {};

TEST_P(PasswordInTheSettings, ReachesTheDriverIntactThroughTheRealProgram) {
  CORVANE_REQUIRE_POSTGRES();
  TestDatabase db(Engine::kPostgres);
  db.Exec(
      "INSERT INTO Company VALUES (1,'Corvane Tours','','','','','','','','','',0,0,"
      "'maintenance@example.com','fleet@example.com','Corvane Fleet','pickup:outbox');");
  std::string literal = "'";
  for (const char c : GetParam().password) literal += c == '\'' ? "''" : std::string(1, c);
  db.server().RunSqlAsAdmin(db.server_database(), "ALTER ROLE " + std::string(SqlServer::kLogin) +
                                                      " PASSWORD " + literal + "';");
  std::string item3 = GetParam().written;
  item3.replace(item3.find("<server>"), 8, db.SettingsConnectString());
  ProgramFolder program;
  // Unquoted, as the item holds double quotes (and no comma).
  program.WriteConfigText("Corvane Email Handler\r\nDatabase," + item3 +
                          "\r\nItem3,\r\nItem4,\r\nItem5,\r\nTourAlertTo,dispatch@example.com\r\n"
                          "TourAlertDays,7\r\n");
  const ProcessResult run = program.RunProgram();
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Grammars, PasswordInTheSettings,
    ::testing::Values(SettingsPassword{"OleDbQuoted", "'p\"w",
                                       "Provider=MSDASQL;<server>Password=\"'p\"\"w\";"
                                       "Command Timeout=60;"},
                      SettingsPassword{"OdbcBraced", "a;b}c'",
                                       "<server>PWD={a;b}}c'};Command Timeout=60;"}),
    [](const auto& param) { return param.param.name; });

TEST(PostgresUnreachable, ServerThatIsDownFailsAtOnce) {
  CORVANE_REQUIRE_POSTGRES();
  UsePrivateOdbcConfig();
  const LoopbackSocket down(LoopbackSocket::Mode::kRefusing);
  const std::string failure = ConnectFailure(Unreachable(down.port(), std::chrono::seconds(10)));
  EXPECT_NE(failure.find("08001"), std::string::npos) << failure;
  EXPECT_NE(failure.find("Connection refused"), std::string::npos) << failure;
}

TEST(PostgresUnreachable, ServerThatNeverAnswersFailsWithinTheTimeout) {
  CORVANE_REQUIRE_POSTGRES();
  UsePrivateOdbcConfig();
  // Listens, and never accepts: the connection completes and the login waits for an answer.
  const LoopbackSocket silent;
  const auto start = std::chrono::steady_clock::now();
  const std::string failure = ConnectFailure(Unreachable(silent.port(), std::chrono::seconds(2)));
  EXPECT_NE(failure.find("timeout expired"), std::string::npos) << failure;
  pollfd pending{silent.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 1) << "the attempt never reached the listener";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << failure;
}

}  // namespace
}  // namespace corvane::testing
