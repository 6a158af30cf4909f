// The ledger (--ledger) through the real executable on each engine, with the demo's nine
// messages (five tour drops; a ticket to maintenance and to its notify address; an action to
// both drivers): two program folders stand for two hosts on one database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "base/status_codes.h"
#include "base/text_form.h"
#include "support/http_recorder.h"
#include "support/local_day.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::vector<std::string> kRunArgs = {"--ledger", "--fleet"};

std::string SqlFile(const std::string& name) {
  return ReadFile(fs::path(CORVANE_SOURCE_DIR) / "sql" / name);
}

std::string ThisHost() {
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  return host;
}

// A message as its reader tells it apart: recipients and body.
std::string Seen(const SmtpTransaction& message) {
  std::string seen;
  for (const std::string& to : message.recipients) seen += to + " ";
  return seen + message.data.substr(message.data.find("\r\n\r\n"));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LedgerRuns : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { CORVANE_REQUIRE_ENGINE(GetParam()); }

  // A fresh database with the demo's rows, mail through `mail_server`, for both program folders.
  void UseDemo(const std::string& mail_server) {
    db_.emplace(GetParam());
    const std::array<const char*, 3> kDemoNames = {"sqlite", "postgresql", "mariadb"};
    db_->Exec(DemoDataSql(kDemoNames.at(static_cast<std::size_t>(GetParam()))) +
              "UPDATE Company SET EmailServer = '" + mail_server + "';");
    const std::string connect =
        GetParam() == Engine::kSqlite
            ? "Provider=SQLite;Data Source=" + db_->sqlite_file().string() + ";"
            : db_->SettingsConnectString();
    for (ProgramFolder& host : hosts_) host.WriteConfig(connect, "dispatch@corvanetours.com", "7");
  }

  // The ledger's table as an administrator makes it, with its file's grants and no others.
  void MakeLedger() {
    SqlServer* server = GetParam() == Engine::kSqlite ? nullptr : &db_->server();
    const std::string& database = db_->server_database();
    switch (GetParam()) {
      case Engine::kSqlite:
        db_->Exec(SqlFile("ledger-sqlite.sql"));
        break;
      case Engine::kPostgres:
        server->RunSqlAsAdmin(
            database, "\\set login corvane\n\\i " CORVANE_SOURCE_DIR "/sql/ledger-postgres.sql\n");
        break;
      case Engine::kMariaDb:
        server->RunSqlAsAdmin(
            database, "REVOKE ALL PRIVILEGES ON " + database + ".* FROM corvane@localhost;\n" +
                          SqlFile("setup-mariadb.sql") + SqlFile("ledger-mariadb.sql"));
        break;
    }
  }

  // A run of host `host`; while the server has not yet noticed that a killed run's session is
  // gone (and dropped its lock), a run stands down: started again until it does not.
  ProcessResult Run(std::size_t host, const std::vector<std::string>& args = kRunArgs,
                    const std::map<std::string, std::string>& environment = {}) {
    ProcessOptions options = hosts_.at(host).CronOptions();
    options.set_env.insert(environment.begin(), environment.end());
    std::vector<std::string> argv = {hosts_.at(host).executable().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult result;
    for (int i = 0; i < 300; ++i) {
      result = testing::Run(argv, options);
      ExpectOneLineReport(result);
      if (result.exit_status != exit_status::kAlreadyRunning) break;
      std::this_thread::sleep_for(100ms);
    }
    return result;
  }

  double Marked() {
    const auto connection = db_->Connect();
    auto marks = connection->OpenRowSet(
        "SELECT (SELECT SUM(EmailSent) FROM HexmileTicket) * 10 + (SELECT SUM(EmailSent) FROM "
        "HexmileAction) AS Marks");
    return ToNumber(marks->Field("Marks"));
  }

  std::optional<TestDatabase> db_;
  std::array<ProgramFolder, 2> hosts_;
};

TEST_P(LedgerRuns, TwoHostsStartedTogetherSendEveryAlertOnceAndOncePerDay) {
  OnOneDay([&](DateTime) {
    ScriptedSmtpServer smtp;
    UseDemo(smtp.host_port());
    const ProcessResult no_table = hosts_[0].RunCommand(kRunArgs);
    EXPECT_EQ(no_table.exit_status, exit_status::kConfig);
    EXPECT_THAT(no_table.err, HasSubstr("CorvaneLedger"));
    EXPECT_THAT(no_table.err, HasSubstr("sql/ledger-"));
    EXPECT_TRUE(smtp.Accepted().empty());
    MakeLedger();

    // A run that stands down tells the monitor nothing: only the runs that ran are heard.
    HttpRecorder monitor;
    std::vector<std::unique_ptr<ChildProcess>> runs;
    for (ProgramFolder& host : hosts_) {
      std::vector<std::string> argv = {host.executable().string()};
      argv.insert(argv.end(), kRunArgs.begin(), kRunArgs.end());
      ProcessOptions options = host.CronOptions();
      options.set_env["CORVANE_HEARTBEAT_URL"] = monitor.url() + "/Kq9wZm4xTv7r";
      runs.push_back(std::make_unique<ChildProcess>(argv, options));
    }
    int ran = 0;
    for (auto& run : runs) {
      const ProcessResult result = run->Wait();
      if (result.exit_status == exit_status::kAlreadyRunning) {
        EXPECT_EQ(result.err,
                  "corvane-email-handler: Application Already Running: This application is "
                  "already running on " +
                      ThisHost() + " with this database.\n");
        EXPECT_EQ(result.out, "");
      } else {
        EXPECT_EQ(result.exit_status, exit_status::kOk) << result.err;
        ++ran;
      }
    }
    EXPECT_GE(ran, 1);
    EXPECT_EQ(monitor.Requests().size(), static_cast<std::size_t>(2 * ran))
        << "a start and an end for each run that ran";
    std::set<std::string> seen;
    for (const SmtpTransaction& message : smtp.Accepted()) seen.insert(Seen(message));
    EXPECT_EQ(smtp.Accepted().size(), 9u);
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(Marked(), 11);

    // CORVANE_LEDGER=1 keeps the ledger as --ledger does.
    const ProcessResult again = Run(1, {"--fleet"}, {{"CORVANE_LEDGER", "1"}});
    EXPECT_EQ(again.exit_status, exit_status::kOk) << again.err;
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(again.err, "");  // each message recorded sent: none left claimed
    EXPECT_EQ(smtp.Accepted().size(), 9u);

    const ProcessResult dry = Run(0, {"--dry-run", "--ledger"});
    EXPECT_EQ(dry.exit_status, exit_status::kOk) << dry.err;
    EXPECT_THAT(dry.out, ::testing::Not(HasSubstr("== message")));
    int skips = 0;
    for (const std::string& line : Lines(dry.out)) {
      skips += line.starts_with("== skip: tour drop TourID ") && line.ends_with(ThisHost() + " ==");
    }
    EXPECT_EQ(skips, 5) << dry.out;
  });
}

TEST_P(LedgerRuns, ARunKilledAfterTheServerAcceptedSendsThatMessageAtMostOnceMore) {
  OnOneDay([&](DateTime) {
    ScriptedSmtpOptions options;
    options.hold_at = SmtpStep::kDot;  // the server has the first message; the run waits
    ScriptedSmtpServer smtp(options);
    UseDemo(smtp.host_port());
    MakeLedger();
    std::vector<std::string> argv = {hosts_[0].executable().string()};
    argv.insert(argv.end(), kRunArgs.begin(), kRunArgs.end());
    ChildProcess killed(argv, hosts_[0].CronOptions());
    ASSERT_TRUE(smtp.WaitUntilHolding(60s));
    killed.Stop(SIGKILL);
    smtp.Release();  // accepted, and the run never heard it
    for (int i = 0; i < 1000 && smtp.Accepted().empty(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(smtp.Accepted().size(), 1u);
    const std::string first = Seen(smtp.Accepted()[0]);

    // Its claim still holds: that message waits, every other goes once.
    const ProcessResult next = Run(1);
    EXPECT_EQ(next.exit_status, exit_status::kOk) << next.err;
    EXPECT_THAT(next.err, HasSubstr(": claimed by a run on " + ThisHost() + " until "));
    std::set<std::string> seen;
    for (const SmtpTransaction& message : smtp.Accepted()) seen.insert(Seen(message));
    EXPECT_EQ(smtp.Accepted().size(), 9u);
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(Marked(), 11);

    // Once the claim's time has passed, a run takes it over and sends it once more, alone.
    db_->Exec("UPDATE CorvaneLedger SET ClaimedUntil = ClaimedAt WHERE Pass <> 'run';");
    const ProcessResult later = Run(0);
    EXPECT_EQ(later.exit_status, exit_status::kOk) << later.err;
    ASSERT_EQ(smtp.Accepted().size(), 10u);
    EXPECT_EQ(Seen(smtp.Accepted()[9]), first);
    EXPECT_EQ(Run(1).exit_status, exit_status::kOk);
    EXPECT_EQ(smtp.Accepted().size(), 10u);
  });
}

TEST_P(LedgerRuns, ARefusedRecipientIsRecordedThenSkippedWithOneWarningAndTheRowsAfterGo) {
  OnOneDay([&](DateTime) {
    ScriptedSmtpOptions options;
    options.refused_recipient = "shop@corvanetours.com";  // the ticket's notify address
    ScriptedSmtpServer smtp(options);
    UseDemo(smtp.host_port());
    MakeLedger();
    const ProcessResult check = Run(0, {"--check", "--ledger"});
    EXPECT_EQ(check.exit_status, exit_status::kOk) << check.out;
    EXPECT_THAT(check.out, HasSubstr("\nledger        ok      CorvaneLedger has its columns, and "
                                     "this login may read, add and change its rows\n"));

    const ProcessResult refused = Run(0);
    EXPECT_EQ(refused.exit_status, exit_status::kMailFailed);
    EXPECT_THAT(refused.err, HasSubstr("550 5.1.1"));
    EXPECT_EQ(smtp.Accepted().size(), 6u);  // the tour drops, the ticket to maintenance

    for (int run = 0; run < 2; ++run) {
      const ProcessResult skipping = Run(1);
      EXPECT_EQ(skipping.exit_status, exit_status::kOk) << skipping.err;
      EXPECT_THAT(skipping.err,
                  StartsWith("corvane-email-handler: warning: ticket HexmileTicket 1 to "
                             "AddNotifyEmail (shop@corvanetours.com): refused for good "));
      EXPECT_THAT(skipping.err, HasSubstr(" on " + ThisHost() + ": 550 5.1.1 "));
      EXPECT_EQ(smtp.Accepted().size(), 8u);  // the action's, after the ticket, went once
      EXPECT_EQ(Marked(), 1);                 // the ticket waits for its notify address
    }

    const std::vector<std::string> history = Lines(Run(0, {"--history", "2"}).out);
    ASSERT_EQ(history.size(), 9u);
    int sent = 0;
    for (const std::string& line : history) {
      sent += line.find("\tsent\t") != std::string::npos;
      if (line.find("\trefused\t") != std::string::npos) {
        EXPECT_THAT(line, HasSubstr("\t" + ThisHost() +
                                    "\tticket\tHexmileTicket 1 to "
                                    "AddNotifyEmail\tshop@corvanetours.com\trefused\t550 5.1.1 "));
      }
    }
    EXPECT_EQ(sent, 8);
  });
}

INSTANTIATE_TEST_SUITE_P(Engines, LedgerRuns, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
