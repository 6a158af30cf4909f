// The run as a process among others: started by cron with next to no environment, stopped by
// SIGTERM in the middle of a send, and started fifty times at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/status_codes.h"
#include "support/child_process.h"
#include "support/local_day.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Two tours ending `today` with open invoices.
std::string OpenTours(DateTime today) {
  return "INSERT INTO Customer (ID, Name) VALUES (1, 'Hill Country Seniors'),"
         " (2, 'Verein Z\xC3\xBCrich');"
         "INSERT INTO Tour (ID, TourName, CustomerID, Status) VALUES"
         " (1, 'Capitol Day Trip', 1, 'Contract - Signed'),"
         " (2, 'Alpen \xE2\x80\x93 Gruppe 2', 2, 'Contract - Verbal');"
         "INSERT INTO TourItems (ID, TourID, EndDate) VALUES (1, 1, '" +
         IsoDate(today) + "'), (2, 2, '" + IsoDate(today) +
         "');"
         "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES"
         " (10, 1, 'Daily', 1234.5, 0.25), (20, 2, 'Monthly', 100, 125.5);";
}

// A program folder whose config names an SQLite database holding `sql`.
void UseSqlite(ProgramFolder& program, const std::string& sql) {
  program.CreateSqliteDatabase(sql);
  program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
}

// A message without the two headers that differ on every send.
std::string WithoutStamps(const std::string& data) {
  std::string out;
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t end = data.find("\r\n", start);
    const std::string line = data.substr(start, end == std::string::npos ? end : end + 2 - start);
    if (!line.starts_with("Date: ") && !line.starts_with("Message-ID: ")) out += line;
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

// A run's log lines without the time each ends with (after its last tab): two runs a second
// apart write the same lines otherwise.
std::string WithoutLogTimes(const std::string& out) {
  std::string kept;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    kept += line.substr(0, line.rfind('\t')) + "\n";
  return kept;
}

class CronRun : public ::testing::TestWithParam<Engine> {};

TEST_P(CronRun, GivesTheSameResultAsAnInteractiveRun) {
  CORVANE_REQUIRE_ENGINE(GetParam());
  OnOneDay([&](DateTime today) {
    ScriptedSmtpServer server;
    ProgramFolder program;
    std::optional<TestDatabase> on_server;
    if (GetParam() == Engine::kSqlite) {
      UseSqlite(program, CompanyRowSql(server.host_port()) + OpenTours(today));
    } else {
      on_server.emplace(GetParam());
      on_server->Exec(CompanyRowSql(server.host_port()) + OpenTours(today));
      program.WriteConfig(on_server->SettingsConnectString(), "dispatch@corvanetours.com", "7");
    }

    // cron: env -i with LC_ALL=C, working directory /, no HOME, no XDG_RUNTIME_DIR.
    const ProcessResult cron = program.RunProgram();
    // A login shell in the program's folder, with a UTF-8 locale and a client environment that
    // would change how PostgreSQL reads dates if the program let it.
    ProcessOptions interactive;
    interactive.working_directory = program.path();
    interactive.set_env = {{"HOME", "/root"},
                           {"LANG", "C.UTF-8"},
                           {"LC_ALL", "C.UTF-8"},
                           {"TERM", "xterm-256color"},
                           {"XDG_RUNTIME_DIR", "/run/user/0"},
                           {"PGDATESTYLE", "SQL, DMY"},
                           {"PWD", program.path().string()}};
    const ProcessResult shell = testing::Run({program.executable().string()}, interactive);

    EXPECT_EQ(cron.exit_status, exit_status::kOk) << cron.err;
    EXPECT_EQ(shell.exit_status, cron.exit_status) << shell.err;
    EXPECT_EQ(shell.err, cron.err);
    EXPECT_EQ(WithoutLogTimes(shell.out), WithoutLogTimes(cron.out));
    const std::vector<SmtpTransaction> sent = server.Accepted();
    ASSERT_EQ(sent.size(), 4u);  // two alerts per run
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(sent[i + 2].from, sent[i].from);
      EXPECT_EQ(sent[i + 2].recipients, sent[i].recipients);
      EXPECT_EQ(WithoutStamps(sent[i + 2].data), WithoutStamps(sent[i].data));
    }
    EXPECT_THAT(sent[0].data, ::testing::HasSubstr("Balance: $1234.25"));
    EXPECT_THAT(sent[1].data, ::testing::HasSubstr("Balance: -$25.50"));
  });
}

INSTANTIATE_TEST_SUITE_P(Engines, CronRun, AllEngines(), EngineTestName);

// A stop request while a message is on its way: the run says where it stopped, in one line,
// ends with 128 + the signal, and the next run starts and sends everything.
class Signals : public ::testing::TestWithParam<int> {};

TEST_P(Signals, StopWhileSendingEndsTheRunWithAReportAndTheNextRunStarts) {
  const int signal = GetParam();
  OnOneDay([signal](DateTime today) {
    ScriptedSmtpOptions options;
    options.hold_at = SmtpStep::kData;  // the run waits for the go-ahead to send its first alert
    ScriptedSmtpServer server(options);
    ProgramFolder program;
    UseSqlite(program, CompanyRowSql(server.host_port()) + OpenTours(today));
    const std::string database_before = ReadFile(program / "fleet.db");

    ChildProcess first = program.StartProgram();
    ASSERT_TRUE(server.WaitUntilHolding(60s)) << "the run never reached its first DATA";
    const int status = first.Stop(signal);
    const ProcessResult ended = first.Wait(5s);
    EXPECT_EQ(status, exit_status::kSignalBase + signal);
    EXPECT_EQ(ended.signal, 0);
    EXPECT_THAT(ended.err, ::testing::MatchesRegex("corvane-email-handler: run-time error 18: User "
                                                   "interrupt occurred: the run was stopped by "
                                                   "SIG[A-Z0-9+]+ \\[in CheckTourDrops, row "
                                                   "TourID [0-9]+\\]\n"));
    EXPECT_EQ(ended.out, "");  // the alert on its way was not accepted, so it was not logged
    server.Release();

    EXPECT_TRUE(server.Accepted().empty());
    EXPECT_EQ(ReadFile(program / "fleet.db"), database_before);
    EXPECT_FALSE(fs::exists(program / "fleet.db-journal"));
    // The kernel dropped the lock with the process: the next run is not refused.
    const ProcessResult next = program.RunProgram();
    EXPECT_EQ(next.exit_status, exit_status::kOk) << next.err;
    EXPECT_EQ(server.Accepted().size(), 2u);
  });
}

// Every signal whose default action would end the process, SIGPIPE aside (ignored).
INSTANTIATE_TEST_SUITE_P(Stops, Signals,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2,
                                           SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPOLL,
                                           SIGPWR, SIGSTKFLT, SIGRTMIN, SIGRTMAX),
                         [](const auto& param) {
                           const char* name = sigabbrev_np(param.param);
                           return name != nullptr ? std::string(name)
                                                  : "RealTime" + std::to_string(param.param);
                         });

TEST(SingleInstance, FiftyStartedAtOnceRunExactlyOnce) {
  OnOneDay([](DateTime today) {
    ScriptedSmtpOptions options;
    options.hold_at = SmtpStep::kMail;  // the one that runs holds the lock until released
    ScriptedSmtpServer server(options);
    ProgramFolder program;
    UseSqlite(program, CompanyRowSql(server.host_port()) + OpenTours(today));

    constexpr std::size_t kStarts = 50;
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (std::size_t i = 0; i < kStarts; ++i) {
      runs.push_back(std::make_unique<ChildProcess>(
          std::vector<std::string>{program.executable().string()}, program.CronOptions()));
    }
    // All but one must end on their own, refused; the one left is waiting on the mail server.
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    auto ended = [&] {
      std::size_t n = 0;
      for (const auto& run : runs) n += run->running() ? 0u : 1u;
      return n;
    };
    while (ended() < kStarts - 1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(server.WaitUntilHolding(60s));
    ASSERT_EQ(ended(), kStarts - 1);

    ChildProcess* winner = nullptr;
    for (const auto& run : runs) {
      if (run->running()) {
        winner = run.get();
        continue;
      }
      const ProcessResult refused = run->Wait(5s);
      EXPECT_EQ(refused.exit_status, exit_status::kAlreadyRunning) << refused.err;
      EXPECT_EQ(refused.err, kStoodDown);
      EXPECT_EQ(refused.out, "");
    }
    ASSERT_NE(winner, nullptr);
    EXPECT_EQ(server.Connections(), 1u);  // the refused ones sent nothing

    server.Release();
    const ProcessResult won = winner->Wait(60s);
    EXPECT_EQ(won.exit_status, exit_status::kOk) << won.err;
    EXPECT_EQ(server.Accepted().size(), 2u);
    EXPECT_EQ(server.Connections(), 1u);
  });
}

}  // namespace
}  // namespace corvane::testing
