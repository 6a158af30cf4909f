// Every wait of a run ends by itself, also when the database server is frozen and can keep none
// of its own limits (a stopped process fires no statement timeout, and its kernel still answers
// TCP), and when the mail server goes silent, to the last QUIT: one report line naming the stage,
// the row and the step, its own status, the single-instance lock dropped with the process, and
// the next run works. Each limit bounds its test from above (twice the limit and a few seconds),
// so a limit that slips is caught.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/status_codes.h"
#include "mail/plain_arg.h"
#include "run/watchdog.h"
#include "support/local_day.h"
#include "support/loopback_socket.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// The upper bound of a test of a limit: twice the limit, and a few seconds.
steady_clock::duration Bound(std::chrono::seconds limit) {
  return 2 * limit + 5s;
}

// Two tours ending `today`, each with an open invoice: two balance queries, an alert between.
std::string TwoOpenTours(DateTime today) {
  return "INSERT INTO Customer (ID, Name) VALUES (1, 'Hill Country Seniors');"
         "INSERT INTO Tour (ID, TourName, CustomerID, Status) VALUES"
         " (1, 'Capitol Day Trip', 1, 'Contract - Signed'), (2, 'Gulf Week', 1, "
         "'Contract - Signed');"
         "INSERT INTO TourItems (ID, TourID, EndDate) VALUES (1, 1, '" +
         IsoDate(today) + "'), (2, 2, '" + IsoDate(today) +
         "');"
         "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES"
         " (10, 1, 'Daily', 100, 0), (20, 2, 'Daily', 200, 0);";
}

// Stops the processes for the test's duration; continues them however the test ends.
class Stopped {
 public:
  explicit Stopped(std::vector<pid_t> pids) : pids_(std::move(pids)) {
    for (const pid_t pid : pids_) kill(pid, SIGSTOP);
  }
  ~Stopped() {
    for (const pid_t pid : pids_) kill(pid, SIGCONT);
  }
  Stopped(const Stopped&) = delete;
  Stopped& operator=(const Stopped&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// true: the whole server frozen (postmaster and backends); false: only the run's backend.
class FrozenDatabase : public ::testing::TestWithParam<bool> {};

TEST_P(FrozenDatabase, BetweenTwoBalanceQueriesEndsTheRunAtTheStatementLimit) {
  CORVANE_REQUIRE_POSTGRES();
  const bool whole_server = GetParam();
  OnOneDay([&](DateTime today) {
    ScriptedSmtpOptions options;
    options.hold_at = SmtpStep::kData;  // the run waits at its first alert, between two tours
    ScriptedSmtpServer smtp(options);
    TestDatabase db(Engine::kPostgres);
    db.Exec(CompanyRowSql(smtp.host_port()) + TwoOpenTours(today));
    ProgramFolder program;
    program.WriteConfig(db.SettingsConnectString() + "Command Timeout=5;",
                        "dispatch@corvanetours.com", "7");

    PostgresServer& server = PostgresServer::Shared();
    ChildProcess first = program.StartProgram();
    ASSERT_TRUE(smtp.WaitUntilHolding(60s)) << "the run never reached its first alert";
    const std::vector<pid_t> backends = server.BackendPids(db.postgres_database());
    ASSERT_EQ(backends.size(), 1u) << "the run's session";
    {
      if (whole_server) server.Freeze();
      const Stopped frozen(backends);
      smtp.Release();
      const auto released = steady_clock::now();
      const ProcessResult ended = first.Wait(kHangLimit);
      EXPECT_LT(steady_clock::now() - released, Bound(5s));
      ExpectOneLineReport(ended);
      EXPECT_EQ(ended.exit_status, exit_status::kTimedOut) << ended.err;
      EXPECT_THAT(ended.err, MatchesRegex("corvane-email-handler: run-time error -2147217871: "
                                          "Timeout expired: the database statement did not end "
                                          "within 5 seconds \\[in CheckTourDrops, row TourID "
                                          "2\\]\n"));
      // The first alert went and was logged; nothing of the second.
      EXPECT_EQ(smtp.Accepted().size(), 1u);
      EXPECT_THAT(ended.out, MatchesRegex("Tour Alert: Open Invoice for Tour Drop Hill Country "
                                          "Seniors\t\tCapitol Day Trip\t\t\t[^\n]+\n"));
    }
    if (whole_server) server.Thaw();
    const ProcessResult next = program.RunProgram();
    EXPECT_EQ(next.exit_status, exit_status::kOk) << next.err;
    EXPECT_EQ(smtp.Accepted().size(), 3u);
  });
}

INSTANTIATE_TEST_SUITE_P(PostgreSQL, FrozenDatabase, ::testing::Values(true, false),
                         [](const auto& param) {
                           return std::string(param.param ? "WholeServer" : "RunsBackendOnly");
                         });

TEST(RunLimit, EndsARunThatWaitsLongerThanItAllows) {
  OnOneDay([](DateTime today) {
    ScriptedSmtpOptions options;
    options.hold_at = SmtpStep::kData;  // the server takes the message and never answers
    ScriptedSmtpServer smtp(options);
    ProgramFolder program;
    program.CreateSqliteDatabase(CompanyRowSql(smtp.host_port()) + OneOpenTourSql(today));
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;Run Timeout=10;",
                        "dispatch@corvanetours.com", "7");
    const auto start = steady_clock::now();
    const ProcessResult result = program.RunProgram("/", kHangLimit);
    EXPECT_LT(steady_clock::now() - start, Bound(10s));
    smtp.Release();
    EXPECT_EQ(result.exit_status, exit_status::kTimedOut) << result.err;
    EXPECT_THAT(result.err, HasSubstr("Timeout expired: the run did not end within 10 seconds "
                                      "(Run Timeout) [in CheckTourDrops, row TourID 1]"));
    EXPECT_TRUE(smtp.Accepted().empty());
  });
}

TEST(SilentDatabase, AListenerThatNeverAnswersEndsTheConnectWithinItsLimit) {
  CORVANE_REQUIRE_POSTGRES();
  UsePrivateOdbcConfig();
  LoopbackSocket silent;  // accepts into its backlog, never says a word
  ProgramFolder program;
  program.WriteConfig("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
                          std::to_string(silent.port()) + ";Database=fleet;UID=corvane",
                      "dispatch@corvanetours.com", "7");
  const auto start = steady_clock::now();
  const ProcessResult result = program.RunProgram("/", kHangLimit);
  EXPECT_LT(steady_clock::now() - start, Bound(10s));
  // psqlODBC's own login timeout (8 s) ends it with the driver's message; were the driver to
  // wait on, the watchdog would at 10 s.
  EXPECT_THAT(result.exit_status, ::testing::AnyOf(exit_status::kUnavailable, exit_status::kTimedOut))
      << result.err;
  EXPECT_THAT(result.err, HasSubstr("[in OpenDatabase]"));
  pollfd pending{silent.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 1) << "the run did connect";
}

// A program folder whose one open tour goes to `smtp`.
void UseServer(ProgramFolder& program, const ScriptedSmtpServer& smtp, DateTime today) {
  program.CreateSqliteDatabase(CompanyRowSql(smtp.host_port()) + OneOpenTourSql(today));
  program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
}

TEST(MailLimits, AnUnansweredQuitChangesNothingAndASignalStillEndsTheWait) {
  OnOneDay([](DateTime today) {
    ScriptedSmtpOptions options;
    options.missteps = {{SmtpStep::kQuit, SmtpMisstep::Action::kSilence, "", 1}};
    ScriptedSmtpServer smtp(options);
    ProgramFolder program;
    UseServer(program, smtp, today);
    for (const std::vector<std::string>& command : {std::vector<std::string>{}, {"--check"}}) {
      const auto start = steady_clock::now();
      const ProcessResult result = program.RunCommand(command);
      EXPECT_LT(steady_clock::now() - start, Bound(run::Watchdog::kTeardownLimit));
      EXPECT_EQ(result.exit_status, exit_status::kOk) << result.err;
      EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(smtp.Accepted().size(), 1u);

    // A stop request while the QUIT waits is heard at once.
    ScriptedSmtpOptions hold;
    hold.hold_at = SmtpStep::kQuit;
    ScriptedSmtpServer holding(hold);
    ProgramFolder held;
    UseServer(held, holding, today);
    ChildProcess run = held.StartProgram();
    ASSERT_TRUE(holding.WaitUntilHolding(kHangLimit));
    EXPECT_EQ(run.Stop(SIGTERM), exit_status::kSignalBase + SIGTERM);
    const ProcessResult stopped = run.Wait(5s);
    EXPECT_THAT(stopped.err, MatchesRegex("corvane-email-handler: run-time error 18: User interrupt "
                                          "occurred: the run was stopped by SIGTERM \\[in closing "
                                          "[^]]+\\]\n"));
    holding.Release();
  });
}

TEST(MailLimits, NoReplyToTheEndOfTheMessageEndsTheRunAtTheMessageLimit) {
  OnOneDay([](DateTime today) {
    ScriptedSmtpOptions options;
    options.missteps = {{SmtpStep::kDot, SmtpMisstep::Action::kSilence, "", 1}};
    ScriptedSmtpServer smtp(options);
    ProgramFolder program;
    UseServer(program, smtp, today);
    const auto start = steady_clock::now();
    const ProcessResult result = program.RunProgram("/", 3 * kHangLimit);
    EXPECT_LT(steady_clock::now() - start, Bound(mail::kDefaultTimeLimit));
    EXPECT_EQ(result.exit_status, exit_status::kMailFailed) << result.err;
    EXPECT_THAT(result.err, HasSubstr("no reply to the end of the message within 60 seconds"));
    EXPECT_THAT(result.err, HasSubstr("[in CheckTourDrops, row TourID 1]"));
    EXPECT_EQ(result.out, "");  // not accepted, so not logged
  });
}

}  // namespace
}  // namespace corvane::testing
