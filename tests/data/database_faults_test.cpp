// Database faults, end to end: the fleet passes meet a database (SQLite, PostgreSQL, MariaDB)
// that refuses, locks or disappears at the moment of a mark, and the run meets a database file
// that is not what it should be. Each ends with a clear database error and the database exit
// status, and no row is marked whose mark was not written after all its messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "alerts/fault_rows.h"
#include "base/ascii.h"
#include "base/text_form.h"
#include "data/connection_string.h"
#include "mail/delivering_component.h"
#include "base/status_codes.h"
#include "support/child_process.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// The fleet rows and a healthy mail server, the window not yet loaded.
class FaultyDatabase {
 public:
  explicit FaultyDatabase(Engine engine) : harness_(engine) {
    harness_.db().Exec(std::string(kFaultRows));
    harness_.WriteCompany(server_.host_port());
  }
  PassHarness& harness() { return harness_; }
  ScriptedSmtpServer& server() { return server_; }
  mail::MailComponent& mail() { return mail_; }

 private:
  ScriptedSmtpServer server_;
  mail::DeliveringMailComponent mail_{"/nonexistent", {}};
  PassHarness harness_;
};

std::string Lower(std::string text) {
  return corvane::ToLowerAscii(text);
}

// The messages of one row (the first handled) went out, and nothing else; returns how many.
std::size_t ExpectOneRowSent(const FleetPass& pass, const ScriptedSmtpServer& server) {
  const std::vector<SmtpTransaction> accepted = server.Accepted();
  if (accepted.empty()) {
    ADD_FAILURE() << "no message went out";
    return 0;
  }
  const long long row = pass.RowOf(accepted[0]);
  EXPECT_EQ(accepted.size(), static_cast<std::size_t>(pass.messages.at(row)));
  for (const SmtpTransaction& message : accepted) EXPECT_EQ(pass.RowOf(message), row);
  return accepted.size();
}

TEST(DatabaseFaults, AWriterHoldingTheFileAtTheMarkIsWaitedForThenTheRowStaysUnmarked) {
  for (const FleetPass& pass : FleetPasses()) {
    SCOPED_TRACE(pass.name);
    FaultyDatabase db(Engine::kSqlite);
    // Another program starts writing the moment the first message is out, and keeps at it.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(db.harness().db().sqlite_file().c_str(), &raw), SQLITE_OK);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> other(raw, sqlite3_close);
    SendHookComponent mail(db.mail(), [&](int sent, const std::string&) {
      if (sent == 1) {
        ASSERT_EQ(sqlite3_exec(raw, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
      }
    });
    db.harness().LoadWindow(mail, "Busy Timeout=300;");

    const PassOutcome outcome = (db.harness().*pass.run)();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.exit_status(), exit_status::kUnavailable) << outcome.report();
    EXPECT_EQ(outcome.error->number() & 0xFF, SQLITE_BUSY) << outcome.report();
    EXPECT_THAT(outcome.report(), HasSubstr("database is locked"));
    EXPECT_LT(outcome.took, kHangLimit);
    const std::size_t first_row_messages = ExpectOneRowSent(pass, db.server());

    ASSERT_EQ(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(db.harness().Marked(pass.table), std::vector<long long>{});
    // The next pass sends that row again (the only way not to lose it) and marks everything.
    SendHookComponent quiet(db.mail(), [](int, const std::string&) {});
    db.harness().LoadWindow(quiet);
    EXPECT_FALSE((db.harness().*pass.run)().error);
    EXPECT_EQ(db.harness().Marked(pass.table).size(), pass.messages.size());
    EXPECT_EQ(db.server().Accepted().size(),
              first_row_messages + static_cast<std::size_t>(pass.total_messages()));
  }
}

// Runs `work` in a child process as an unprivileged user (as root only: file modes do not bind
// root) and returns its exit status and what it wrote to `out`.
std::pair<int, std::string> AsOrdinaryUser(const std::function<std::string()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return {-1, "pipe failed"};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) {
        _exit(99);
      }
    }
    const std::string text = work();
    (void)!write(fds[1], text.data(), text.size());
    _exit(0);  // no destructors, no leak check: the parent owns everything
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

TEST(DatabaseFaults, AReadOnlyDatabaseRefusesTheMarkOfARowAlreadySent) {
  FaultyDatabase db(Engine::kSqlite);
  const fs::path folder = db.harness().db().folder();
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(db.harness().db().sqlite_file(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  const auto [status, report] = AsOrdinaryUser([&] {
    db.harness().LoadWindow(db.mail());
    const PassOutcome outcome = db.harness().SendTicketAlerts();
    return std::to_string(outcome.exit_status()) + "\n" + outcome.report();
  });
  ASSERT_EQ(status, 0) << report;
  EXPECT_EQ(report.substr(0, report.find('\n')), std::to_string(exit_status::kUnavailable)) << report;
  EXPECT_THAT(report, HasSubstr("readonly database"));
  EXPECT_EQ(db.server().Accepted().size(), 1u);  // sent, then the mark was refused
  EXPECT_EQ(db.harness().Marked("HexmileTicket"), std::vector<long long>{});
}

// ---- The fleet passes on a database server that goes away or keeps a row locked. ----

class ServerFaults : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { CORVANE_REQUIRE_ENGINE(GetParam()); }
};

TEST_P(ServerFaults, AServerStoppedInThePassEndsItAndMarksNothingWrongly) {
  for (const FleetPass& pass : FleetPasses()) {
    SCOPED_TRACE(pass.name);
    FaultyDatabase db(GetParam());
    SqlServer& server = db.harness().db().server();
    SendHookComponent mail(db.mail(), [&](int sent, const std::string&) {
      if (sent == 1) server.Stop();
    });
    db.harness().LoadWindow(mail);
    const PassOutcome outcome = (db.harness().*pass.run)();
    server.Restart();

    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.exit_status(), exit_status::kUnavailable) << outcome.report();
    // The connection is gone: psqlODBC says so by its SQLSTATE, Connector/ODBC by an error of
    // its client library (2000-2999, 5000-5999: gone away, lost, a broken pipe, as the moment
    // falls) rather than of the server.
    if (GetParam() == Engine::kPostgres) {
      EXPECT_THAT(outcome.report(), HasSubstr("[08S01]"));
    } else {
      const long number = outcome.error->number();
      EXPECT_TRUE((number >= 2000 && number < 3000) || (number >= 5000 && number < 6000))
          << outcome.report();
    }
    EXPECT_LT(outcome.took, kHangLimit);
    ExpectOneRowSent(pass, db.server());
    EXPECT_EQ(db.harness().Marked(pass.table), std::vector<long long>{});
  }
}

TEST_P(ServerFaults, ARowLockedByAnotherClientAtTheMarkIsWaitedForThenFails) {
  const FleetPass pass = FleetPasses().at(0);
  FaultyDatabase db(GetParam());
  TestDatabase& database = db.harness().db();
  // Another client updates every ticket and leaves its transaction open, as a front end with
  // a ticket open for editing may.
  const std::string sleep = GetParam() == Engine::kPostgres ? "pg_sleep(60)" : "SLEEP(60)";
  ChildProcess holder = database.server().StartSql(
      database.server_database(),
      "BEGIN; UPDATE " + pass.table + " SET EnteredBy = EnteredBy; SELECT " + sleep + ";");
  // Held once a row can no longer be locked without waiting.
  bool locked = false;
  for (int i = 0; i < 200 && !locked; ++i) {
    std::this_thread::sleep_for(50ms);
    try {
      database.Connect()->OpenRowSet("SELECT ID FROM " + pass.table + " FOR UPDATE NOWAIT");
    } catch (const Error&) {
      locked = true;
    }
  }
  ASSERT_TRUE(locked) << "the other client did not get its lock";

  db.harness().LoadWindow(db.mail());
  const PassOutcome outcome = (db.harness().*pass.run)();
  holder.Stop(SIGKILL);
  ASSERT_TRUE(outcome.error) << "the mark must not wait for ever";
  EXPECT_EQ(outcome.exit_status(), exit_status::kUnavailable) << outcome.report();
  // The run's own limit on the wait for a lock ended it: lock_not_available, or InnoDB's
  // innodb_lock_wait_timeout.
  if (GetParam() == Engine::kPostgres) {
    EXPECT_THAT(outcome.report(), HasSubstr("[55P03]"));
  } else {
    EXPECT_EQ(outcome.error->number(), 1205) << outcome.report();
    EXPECT_THAT(outcome.report(), HasSubstr("Lock wait timeout exceeded"));
  }
  EXPECT_LT(outcome.took, kHangLimit);
  ExpectOneRowSent(pass, db.server());
  EXPECT_EQ(db.harness().Marked(pass.table), std::vector<long long>{});
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerFaults, ServerEngines(), EngineTestName);

class EngineFaults : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override { CORVANE_REQUIRE_ENGINE(GetParam()); }
};

TEST_P(EngineFaults, AMissingEmailSentColumnStopsThePassBeforeAnyMessage) {
  for (const FleetPass& pass : FleetPasses()) {
    SCOPED_TRACE(pass.name);
    FaultyDatabase db(GetParam());
    if (GetParam() == Engine::kSqlite) {
      db.harness().db().Exec("DROP INDEX TicketsNotSent; DROP INDEX ActionsNotSent;");
    }
    db.harness().db().Exec("ALTER TABLE " + pass.table + " DROP COLUMN EmailSent;");
    db.harness().LoadWindow(db.mail());
    const PassOutcome outcome = (db.harness().*pass.run)();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.exit_status(), exit_status::kUnavailable) << outcome.report();
    EXPECT_THAT(Lower(outcome.report()), HasSubstr("emailsent"));
    EXPECT_EQ(db.server().Connections(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineFaults, AllEngines(), EngineTestName);

// ---- The run, through the real executable, on a database file that is not right. ----

TEST(DatabaseFaults, ABrokenDatabaseFileEndsTheRunAndIsLeftAsItWas) {
  ProgramFolder good;
  const std::string database = ReadFile(good.CreateSqliteDatabase(CompanyRowSql("pickup:outbox")));
  CreateSqliteFile(good / "other.db", "CREATE TABLE Unrelated (ID INTEGER);");
  const std::string unrelated = ReadFile(good / "other.db");

  struct Case {
    std::string name;
    std::string bytes;  // what fleet.db holds
    std::string in_report;
  };
  const std::vector<Case> cases = {
      {"not a database", std::string(8192, 'x'), "file is not a database"},
      {"an empty file", "", "no such table: Company"},
      {"cut after its first page", database.substr(0, 4096), "malformed"},
      {"another program's database", unrelated, "no such table: Company"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramFolder program;
    WriteFile(program / "fleet.db", c.bytes);
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
    const ProcessResult result = program.RunProgram("/", 60s);
    EXPECT_EQ(result.exit_status, exit_status::kUnavailable) << result.err;
    EXPECT_THAT(result.err, HasSubstr("corvane-email-handler: database error (SQLite "));
    EXPECT_THAT(result.err, HasSubstr(c.in_report));
    EXPECT_EQ(ReadFile(program / "fleet.db"), c.bytes) << "the file must not be changed";
    EXPECT_FALSE(fs::exists(program / "fleet.db-journal"));
    EXPECT_FALSE(fs::exists(program / "outbox"));
  }
  {
    SCOPED_TRACE("a folder of that name");
    ProgramFolder program;
    fs::create_directory(program / "fleet.db");
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
    const ProcessResult result = program.RunProgram("/", 60s);
    EXPECT_EQ(result.exit_status, exit_status::kUnavailable) << result.err;
    EXPECT_THAT(result.err, HasSubstr("fleet.db"));
    EXPECT_TRUE(fs::is_directory(program / "fleet.db"));
  }
}

}  // namespace
}  // namespace corvane::testing
