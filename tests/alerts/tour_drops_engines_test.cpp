// The tour-drop pass on the database servers, through ODBC: the real executable against
// PostgreSQL and MariaDB sends the same alerts as on SQLite, and each server reads the window's
// date texts as month/day/year. And on every engine: a preview reads one committed state while
// another client commits.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "data/connection.h"
#include "support/local_day.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"
#include "support/test_database.h"
#include "tour_alert_text.h"

namespace corvane::testing {
namespace {

// Each test runs its body through OnDay, as TourDropTest's do: a fresh database with the
// Company row, SMTP server and program folder for each attempt.
class TourDropServerTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
    CORVANE_REQUIRE_ENGINE(GetParam());
  }

  void OnDay(const std::function<void()>& body) {
    OnOneDay([&](DateTime today) {
      today_ = today;
      smtp_ = std::make_unique<SmtpServer>();
      program_.emplace();
      db_.emplace(GetParam());  // the program inherits the tests' ODBC settings (ODBCSYSINI)
      db_->Exec(
          "INSERT INTO Company VALUES (1,'Corvane Tours','','','','','','','','','',"
          "0,0,'maintenance@example.com','fleet@example.com','Corvane Fleet','" +
          smtp_->host_port() + "')");
      program_->WriteConfig(db_->SettingsConnectString(), "dispatch@example.com", "7");
      body();
    });
  }

  // Today plus `days` at `time`, as an ISO timestamp literal.
  std::string At(int days, std::string_view time = "00:00:00") const {
    return "'" + IsoDate(today_.AddDays(days)) + " " + std::string(time) + "'";
  }
  void AddTour(int id, std::string_view name, const std::string& end, double total, double paid,
               std::string_view customer = "") {
    const std::string n = std::to_string(id);
    db_->Exec((customer.empty()
                   ? std::string()
                   : "INSERT INTO Customer VALUES (" + n + ",'" + std::string(customer) + "');") +
              "INSERT INTO Tour VALUES (" + n + ",'" + std::string(name) + "'," + n +
              ",'Contract - Signed');"
              "INSERT INTO TourItems VALUES (" +
              n + "," + n + "," + end +
              ");"
              "INSERT INTO Invoice VALUES (" +
              std::to_string(100 + id) + "," + n + ",'Daily'," + std::to_string(total) + "," +
              std::to_string(paid) + ");");
  }

  DateTime today_;
  std::unique_ptr<SmtpServer> smtp_;
  std::optional<ProgramFolder> program_;
  std::optional<TestDatabase> db_;
};

TEST_P(TourDropServerTest, AlertsCarryTheSameMessageAsOnSqlite) {
  OnDay([&] {
    AddTour(1, "Capitol Day Trip", At(2), 1200, 800, "Jörg Müller Reisen");
    AddTour(2, "Gulf Coast Week", At(3), 5000, 5025);  // a credit, and no customer row
    const ProcessResult result = program_->RunProgram();
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::vector<ReceivedMessage> messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].envelope_from, "alerts@corvanetours.com");
    EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"dispatch@example.com"});
    EXPECT_EQ(messages[0].subject, "Tour Drop with open invoice");
    EXPECT_EQ(messages[0].body,
              ExpectedBody(today_, "Jörg Müller Reisen", "Capitol Day Trip", 2, "101", "$400.00"));
    EXPECT_EQ(messages[1].body, ExpectedBody(today_, "", "Gulf Coast Week", 3, "102", "-$25.00"));
  });
}

TEST_P(TourDropServerTest, WindowEndsReadTheDateTextsAsMonthDayYear) {
  OnDay([&] {
    AddTour(1, "today noon", At(0, "12:00:00"), 10, 0);
    AddTour(2, "yesterday", At(-1, "23:59:59"), 10, 0);
    AddTour(3, "last day midnight", At(7), 10, 0);
    AddTour(4, "last day morning", At(7, "08:00:00"), 10, 0);
    AddTour(5, "day after", At(8), 10, 0);
    const ProcessResult result = program_->RunProgram();
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> tours;
    for (const ReceivedMessage& m : smtp_->Messages()) {
      const std::size_t start = m.body.find("Tour: ") + 6;
      tours.push_back(m.body.substr(start, m.body.find("\r\n", start) - start));
    }
    EXPECT_EQ(tours, (std::vector<std::string>{"today noon", "last day midnight"}));
  });
}

INSTANTIATE_TEST_SUITE_P(Engines, TourDropServerTest, ServerEngines(), EngineTestName);

// Another client pays a little more of every invoice in each of its commits, in a loop: the
// balances of one committed state are all equal.
class PreviewWhileAWriterCommits : public ::testing::TestWithParam<Engine> {
 protected:
  static constexpr int kTours = 20;
  static constexpr const char* kPay = "UPDATE Invoice SET Paid = Paid + 1;";

  // SQLite: a writer that connects for each commit, so the previews meet the file with and
  // without a write-ahead log.
  static void WriteSqlite(std::stop_token stop, const std::filesystem::path& file) {
    while (!stop.stop_requested()) {
      sqlite3* raw = nullptr;
      const int opened = sqlite3_open(file.c_str(), &raw);
      const std::unique_ptr<sqlite3, int (*)(sqlite3*)> writer(raw, sqlite3_close);
      if (opened != SQLITE_OK) return;
      sqlite3_busy_timeout(raw, 10000);
      const std::string pay = std::string("BEGIN IMMEDIATE;") + kPay + "COMMIT;";
      sqlite3_exec(raw, pay.c_str(), nullptr, nullptr, nullptr);
    }
  }
};

TEST_P(PreviewWhileAWriterCommits, EveryPreviewShowsOneCommittedState) {
  CORVANE_REQUIRE_ENGINE(GetParam());
  OnOneDay([&](DateTime today) {
    TestDatabase db(GetParam());
    const bool sqlite = GetParam() == Engine::kSqlite;
    std::string data = sqlite ? "PRAGMA journal_mode=WAL;" : "";
    data +=
        "INSERT INTO Company VALUES (1,'Corvane Tours','','','','','','','','','',0,0,"
        "'maintenance@example.com','fleet@example.com','Corvane Fleet','pickup:outbox');";
    for (int id = 1; id <= kTours; ++id) {
      const std::string n = std::to_string(id);
      data += "INSERT INTO Tour VALUES (" + n + ",'Trip " + n + "'," + n +
              ",'Contract - Signed');INSERT INTO TourItems VALUES (" + n + "," + n + ",'" +
              IsoDate(today.AddDays(1)) + "');INSERT INTO Invoice VALUES (" +
              std::to_string(100 + id) + "," + n + ",'Daily',1000000000,0);";
    }
    db.Exec(data);
    ProgramFolder program;
    program.WriteConfig(sqlite ? "Provider=SQLite;Data Source=" + db.sqlite_file().string() + ";"
                               : db.SettingsConnectString(),
                        "dispatch@example.com", "7");

    std::jthread sqlite_writer;
    std::optional<ChildProcess> server_writer;
    const std::filesystem::path script = program / "pay.sql";
    if (sqlite) {
      sqlite_writer = std::jthread(WriteSqlite, db.sqlite_file());
    } else {
      std::string statements;
      for (int i = 0; i < 200000; ++i) statements += std::string(kPay) + "\n";
      WriteFile(script, statements);
      ProcessOptions options = db.server().ClientOptions();
      options.stdin_file = script;
      server_writer.emplace(db.server().ClientArgs(db.server_database()), options);
    }

    std::set<std::string> states;
    for (int preview = 0; preview < 4; ++preview) {
      const ProcessResult dry = program.RunCommand({"--dry-run"});
      ASSERT_EQ(dry.exit_status, 0) << dry.err;
      std::multiset<std::string> balances;
      std::istringstream lines(dry.out);
      for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Balance: ")) balances.insert(line);
      }
      EXPECT_EQ(balances.size(), static_cast<std::size_t>(kTours)) << dry.out;
      EXPECT_EQ(balances.count(*balances.begin()), balances.size()) << dry.out;
      states.insert(*balances.begin());
    }
    if (sqlite) {
      sqlite_writer.request_stop();
      sqlite_writer.join();
    } else {
      server_writer->Stop(SIGKILL);
    }
    // The writer did commit while the previews ran.
    auto look = data::Connect(db.Options());
    EXPECT_NE(look->OpenRowSet("SELECT Paid FROM Invoice WHERE ID = 101")->Field("Paid"), Value(0));
  });
}

INSTANTIATE_TEST_SUITE_P(Engines, PreviewWhileAWriterCommits, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
