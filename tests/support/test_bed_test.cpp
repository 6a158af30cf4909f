// The test bed's own promises, where a broken one would let other tests pass or fail for the
// wrong reason: database servers no other test can reach, the PostgreSQL server's frozen states
// undone and the processes it names, and a test that is not failed by midnight.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <vector>

#include "data/connection.h"
#include "support/child_process.h"
#include "support/local_day.h"
#include "support/loopback_socket.h"
#include "support/postgres_server.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

class TestServers : public ::testing::TestWithParam<Engine> {};

TEST_P(TestServers, AreReachedOnlyThroughASocketFolderOfTheirOwn) {
  CORVANE_REQUIRE_ENGINE(GetParam());
  SqlServer& server = SharedServer(GetParam());
  EXPECT_EQ(ListeningPorts(server.pid()), std::vector<int>{}) << "no TCP port at all";
  struct stat folder {};
  ASSERT_EQ(stat(server.socket_folder().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 0777, 0700u);
  EXPECT_NE(server.OdbcConnectionString("x").find(server.socket_folder().string()),
            std::string::npos);
  // The program's login, through that folder.
  const TestDatabase db(GetParam());
  const char* who = GetParam() == Engine::kPostgres
                        ? "SELECT current_user AS U"
                        : "SELECT SUBSTRING_INDEX(CURRENT_USER(), '@', 1) AS U";
  EXPECT_EQ(db.Connect()->OpenRowSet(who)->Field("U"), Value(SqlServer::kLogin));
}

INSTANTIATE_TEST_SUITE_P(Engines, TestServers, ServerEngines(), EngineTestName);

TEST(MariaDbTestServer, LetsNoOneInByTheirSystemUserAlone) {
  CORVANE_REQUIRE_ENGINE(Engine::kMariaDb);
  const std::string socket = SharedServer(Engine::kMariaDb).socket_folder() / "mysqld.sock";
  // install-db lets root and the server's own user in through the socket without a secret.
  for (const char* user : {"root", "mysql"}) {
    ProcessOptions options;
    if (geteuid() == 0) options.run_as_user = user;
    const ProcessResult result =
        testing::Run({"mariadb", "--no-defaults", std::string("--user=") + user,
                      "--socket=" + socket, "-e", "SELECT 1"},
                     options);
    EXPECT_NE(result.exit_status, 0) << user;
    EXPECT_NE(result.err.find("Access denied"), std::string::npos) << user << ": " << result.err;
  }
}

TEST(PostgresTestServer, NamesTheBackendOfASessionAndUndoesEveryFreeze) {
  CORVANE_REQUIRE_POSTGRES();
  UsePrivateOdbcConfig();
  PostgresServer server;  // its own: it is destroyed frozen
  const std::string database = server.CreateDatabase();
  data::ConnectOptions options;
  options.connection_string = server.OdbcConnectionString(database) + "PWD=vantorel;";
  auto conn = data::Connect(options);
  const Value own = conn->OpenRowSet("SELECT pg_backend_pid() AS P")->Field("P");
  const std::vector<pid_t> backends = server.BackendPids(database);
  ASSERT_EQ(backends.size(), 1u);
  EXPECT_EQ(Value(backends[0]), own);

  const pid_t postmaster = server.pid();
  server.Freeze();
  EXPECT_EQ(ProcessState(postmaster), 'T');
  server.Thaw();
  EXPECT_NE(ProcessState(postmaster), 'T');
  // Left stopped by a test, the postmaster and a backend are continued and stopped with it.
  kill(backends[0], SIGSTOP);
  server.Freeze();
  conn.reset();
  server.Stop();
  EXPECT_EQ(ProcessState(postmaster), '\0');
  EXPECT_EQ(ProcessState(backends[0]), '\0');
}

TEST(OnOneDay, AnAttemptThatMidnightCutsIsDroppedAndRunAgainOnTheNewDay) {
  FixedClock clock(DateTime::FromParts(2026, 12, 8, 23, 59, 59));
  std::vector<DateTime> days;
  OnOneDay(
      [&](DateTime today) {
        days.push_back(today);
        if (days.size() == 1) {
          clock.Set(DateTime::FromParts(2026, 12, 9, 0, 0, 1));
          ADD_FAILURE() << "a failure of the day before";
        }
      },
      clock);
  EXPECT_EQ(days, (std::vector<DateTime>{DateTime::FromParts(2026, 12, 8),
                                         DateTime::FromParts(2026, 12, 9)}));
}

TEST(OnOneDay, FailuresWithinOneDayStand) {
  static const FixedClock clock(DateTime::FromParts(2026, 12, 8, 12, 0, 0));
  EXPECT_NONFATAL_FAILURE(OnOneDay([](DateTime) { ADD_FAILURE() << "within the day"; }, clock),
                          "within the day");
  EXPECT_NONFATAL_FAILURE(OnOneDay([](DateTime) { throw std::runtime_error("thrown"); }, clock),
                          "exception: thrown");
}

}  // namespace
}  // namespace corvane::testing
