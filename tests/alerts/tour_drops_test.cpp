// The tour-drop pass end to end: the real executable in a program folder of its own, a real
// SQLite database, and a real SMTP server on 127.0.0.1 whose messages a real MIME parser
// decodes. The same pass on the database servers: tour_drops_engines_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text_form.h"
#include "support/local_day.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"
#include "support/test_database.h"
#include "tour_alert_text.h"

namespace corvane::testing {
namespace {

// Each test runs its body through OnDay: a fresh program folder and SMTP server, and data dated
// by today_, once more should midnight pass while it runs.
class TourDropTest : public ::testing::Test {
 protected:
  void SetUp() override { CORVANE_REQUIRE_SERVICE(SmtpServerAvailable()); }

  void OnDay(const std::function<void()>& body) {
    OnOneDay([&](DateTime today) {
      today_ = today;
      program_.emplace();
      smtp_ = std::make_unique<SmtpServer>();
      created_ = false;
      body();
    });
  }

  // A contracted tour with one leg ending `end` (an SQL date literal, Day) and one invoice.
  static std::string Tour(int id, std::string_view name, std::string_view end, double total,
                          double paid, std::string_view type = "Daily",
                          std::string_view status = "Contract - Signed") {
    const std::string n = std::to_string(id);
    return "INSERT INTO Customer VALUES (" + n + ",'Customer " + n +
           "');"
           "INSERT INTO Tour VALUES (" +
           n + ",'" + std::string(name) + "'," + n + ",'" + std::string(status) +
           "');"
           "INSERT INTO TourItems (TourID, EndDate) VALUES (" +
           n + "," + std::string(end) +
           ");"
           "INSERT INTO Invoice VALUES (" +
           std::to_string(100 + id) + "," + n + ",'" + std::string(type) + "'," +
           std::to_string(total) + "," + std::to_string(paid) + ");";
  }
  std::string Day(int days) const { return "'" + IsoDate(today_.AddDays(days)) + "'"; }
  std::string DayAt(int days, std::string_view time) const {
    return "'" + IsoDate(today_.AddDays(days)) + " " + std::string(time) + "'";
  }

  // Lays out the program folder and runs the program once.
  ProcessResult Run(const std::string& data, std::string_view days = "7") {
    if (!created_) {
      program_->CreateSqliteDatabase(
          "INSERT INTO Company VALUES (1,'Corvane Tours','','','','','','','','','',0,0,"
          "'maintenance@example.com','fleet@example.com','Corvane Fleet','" +
          smtp_->host_port() + "');" + data);
      created_ = true;
    }
    program_->WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@example.com", days);
    return program_->RunProgram();
  }

  // The tour of every message received so far, from the `first` on.
  std::vector<std::string> Tours(std::size_t first = 0) const {
    std::vector<std::string> names;
    const std::vector<ReceivedMessage> messages = smtp_->Messages();
    for (std::size_t i = first; i < messages.size(); ++i) {
      const ReceivedMessage& m = messages[i];
      const std::size_t start = m.body.find("Tour: ") + 6;
      names.push_back(m.body.substr(start, m.body.find("\r\n", start) - start));
    }
    return names;
  }

  DateTime today_;
  std::optional<ProgramFolder> program_;
  std::unique_ptr<SmtpServer> smtp_;
  bool created_ = false;
};

// --- The message ----------------------------------------------------------------------------

TEST_F(TourDropTest, AlertHasTheFixedSenderSubjectAndSevenLineBody) {
  OnDay([&] {
    const ProcessResult result = Run(Tour(1, "Capitol Day Trip", Day(2), 1200, 800));
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<ReceivedMessage> messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    const ReceivedMessage& m = messages[0];
    EXPECT_EQ(m.envelope_from, "alerts@corvanetours.com");
    EXPECT_EQ(m.recipients, std::vector<std::string>{"dispatch@example.com"});
    EXPECT_EQ(m.from_name, "Corvane Alert");
    EXPECT_EQ(m.from_address, "alerts@corvanetours.com");
    EXPECT_EQ(m.to, (std::vector<MailboxField>{{"", "dispatch@example.com"}}));
    EXPECT_EQ(m.subject, "Tour Drop with open invoice");
    EXPECT_EQ(m.body, ExpectedBody(today_, "Customer 1", "Capitol Day Trip", 2, "101", "$400.00"));
    EXPECT_TRUE(m.defects.empty());
  });
}

TEST_F(TourDropTest, CreditBalanceIsAlertedWithItsSignBeforeTheDollar) {
  OnDay([&] {
    ASSERT_EQ(Run(Tour(1, "Gulf Coast Week", Day(1), 5000, 5025, "Monthly")).exit_status, 0);
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].body,
              ExpectedBody(today_, "Customer 1", "Gulf Coast Week", 1, "101", "-$25.00"));
  });
}

TEST_F(TourDropTest, BalanceIsRoundedToCents) {
  OnDay([&] {
    ASSERT_EQ(Run(Tour(1, "Odd Cents", Day(1), 100.125, 0)).exit_status, 0);
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].body.find("Balance: $100.13\r\n"), std::string::npos) << messages[0].body;
  });
}

TEST_F(TourDropTest, TourWithoutCustomerHasAnEmptyCustomerLine) {
  OnDay([&] {
    ASSERT_EQ(
        Run(Tour(1, "Stockyards Rodeo", Day(1), 300, 100) + "UPDATE Tour SET CustomerID = 99;")
            .exit_status,
        0);
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].body, ExpectedBody(today_, "", "Stockyards Rodeo", 1, "101", "$200.00"));
  });
}

TEST_F(TourDropTest, NonAsciiNamesArriveIntact) {
  OnDay([&] {
    ASSERT_EQ(Run(Tour(1, "Señor Frío – Día ☀", Day(1), 10, 0) +
                  "UPDATE Customer SET Name = 'Jörg Müller Reisen';")
                  .exit_status,
              0);
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].body,
              ExpectedBody(today_, "Jörg Müller Reisen", "Señor Frío – Día ☀", 1, "101", "$10.00"));
  });
}

// --- Which tours are selected -----------------------------------------------------------------

TEST_F(TourDropTest, WindowIncludesTodayAtAnyTimeAndTheLastDayOnlyAtMidnight) {
  OnDay([&] {
    const ProcessResult result =
        Run(Tour(1, "today noon", DayAt(0, "12:00:00"), 10, 0) +
            Tour(2, "yesterday", Day(-1), 10, 0) + Tour(3, "last day midnight", Day(7), 10, 0) +
            Tour(4, "last day morning", DayAt(7, "08:00:00"), 10, 0) +
            Tour(5, "last day explicit midnight", DayAt(7, "00:00:00"), 10, 0) +
            Tour(6, "day after", Day(8), 10, 0));
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(Tours(), (std::vector<std::string>{"today noon", "last day midnight",
                                                 "last day explicit midnight"}));
  });
}

TEST_F(TourDropTest, DaysSettingIsRoundedHalfToEven) {
  OnDay([&] {
    const std::string tours = Tour(1, "today", Day(0), 10, 0) + Tour(2, "in two", Day(2), 10, 0) +
                              Tour(3, "in three", Day(3), 10, 0) +
                              Tour(4, "in four", Day(4), 10, 0);
    ASSERT_EQ(Run(tours, "0").exit_status, 0);
    EXPECT_EQ(Tours(), (std::vector<std::string>{"today"}));
    ASSERT_EQ(Run(tours, "2.5").exit_status, 0);
    EXPECT_EQ(Tours(1), (std::vector<std::string>{"today", "in two"}));
    ASSERT_EQ(Run(tours, " 3.5 ").exit_status, 0);
    EXPECT_EQ(Tours(3), (std::vector<std::string>{"today", "in two", "in three", "in four"}));
  });
}

TEST_F(TourDropTest, NegativeDaysSelectNothing) {
  OnDay([&] {
    const ProcessResult result = Run(Tour(1, "today", Day(0), 10, 0), "-1");
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_TRUE(smtp_->Messages().empty());
  });
}

TEST_F(TourDropTest, DaysSettingThatIsNotANumberEndsTheRunBeforeAnyQuery) {
  OnDay([&] {
    for (const char* days : {"soon", ""}) {
      const ProcessResult result = Run(Tour(1, "today", Day(0), 10, 0), days);
      EXPECT_EQ(result.exit_status, 65) << days;
      EXPECT_NE(result.err.find("run-time error 13: Type mismatch"), std::string::npos)
          << result.err;
      EXPECT_NE(result.err.find("[in CheckTourDrops]"), std::string::npos) << result.err;
    }
    const ProcessResult huge = Run(Tour(1, "today", Day(0), 10, 0), "3000000000");
    EXPECT_EQ(huge.exit_status, 65);
    EXPECT_NE(huge.err.find("run-time error 6: Overflow"), std::string::npos) << huge.err;
    EXPECT_TRUE(smtp_->Messages().empty());
  });
}

TEST_F(TourDropTest, OnlyContractedToursWithDailyOrMonthlyInvoices) {
  OnDay([&] {
    const ProcessResult result =
        Run(Tour(1, "committed", Day(1), 10, 0, "Daily", "Contract - Committed") +
            Tour(2, "verbal", Day(1), 10, 0, "Monthly", "Contract - Verbal") +
            Tour(3, "signed", Day(1), 10, 0, "Daily", "Contract - Signed") +
            Tour(4, "quoted", Day(1), 10, 0, "Daily", "Quote") +
            Tour(5, "cancelled", Day(1), 10, 0, "Daily", "Cancelled") +
            Tour(6, "deposit only", Day(1), 10, 0, "Deposit"));
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(Tours(), (std::vector<std::string>{"committed", "verbal", "signed"}));
  });
}

TEST_F(TourDropTest, SettledToursAreSkipped) {
  OnDay([&] {
    ASSERT_EQ(Run(Tour(1, "settled", Day(1), 500, 500) + Tour(2, "open", Day(1), 500, 499.99))
                  .exit_status,
              0);
    EXPECT_EQ(Tours(), (std::vector<std::string>{"open"}));
  });
}

TEST_F(TourDropTest, OnlyTheNewestDailyOrMonthlyInvoiceCounts) {
  OnDay([&] {
    const ProcessResult result = Run(Tour(1, "older open, newest settled", Day(1), 900, 0) +
                                     "INSERT INTO Invoice VALUES (150, 1, 'Monthly', 900, 900);" +
                                     Tour(2, "older settled, newest open", Day(1), 900, 900) +
                                     "INSERT INTO Invoice VALUES (160, 2, 'Daily', 700, 200);" +
                                     // A newer invoice of another type does not count.
                                     "INSERT INTO Invoice VALUES (170, 2, 'Deposit', 50, 0);");
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].body, ExpectedBody(today_, "Customer 2", "older settled, newest open", 1,
                                             "160", "$500.00"));
  });
}

TEST_F(TourDropTest, TwoEndDatesGiveTwoAlertsInTourOrder) {
  OnDay([&] {
    const ProcessResult result =
        Run(Tour(2, "second tour", Day(3), 10, 0) + Tour(1, "two legs", Day(2), 2500, 1000) +
            "INSERT INTO TourItems (TourID, EndDate) VALUES (1," + Day(4) + ");" +
            "INSERT INTO TourItems (TourID, EndDate) VALUES (1," + Day(4) + ");");
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const auto messages = smtp_->Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(Tours(), (std::vector<std::string>{"two legs", "two legs", "second tour"}));
    std::vector<std::string> ends = {messages[0].body.substr(messages[0].body.find("End Date: ")),
                                     messages[1].body.substr(messages[1].body.find("End Date: "))};
    std::sort(ends.begin(), ends.end());
    EXPECT_EQ(ends[0].substr(10, 10), EndDateText(today_, 2));
    EXPECT_EQ(ends[1].substr(10, 10), EndDateText(today_, 4));
  });
}

// --- Failures and repeated runs ---------------------------------------------------------------

TEST_F(TourDropTest, NullPaidStopsTheRunAfterTheEarlierAlerts) {
  OnDay([&] {
    const ProcessResult result =
        Run(Tour(1, "first", Day(1), 10, 0) + Tour(2, "null paid", Day(1), 10, 0) +
            Tour(3, "third", Day(1), 10, 0) + "UPDATE Invoice SET Paid = NULL WHERE TourID = 2;");
    EXPECT_EQ(result.exit_status, 65);
    EXPECT_NE(result.err.find("run-time error 94: Invalid use of Null"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("[in CheckTourDrops, row TourID 2]"), std::string::npos)
        << result.err;
    EXPECT_EQ(Tours(), (std::vector<std::string>{"first"}));
  });
}

TEST_F(TourDropTest, EveryRunSendsWhatStillQualifies) {
  OnDay([&] {
    const std::string data = Tour(1, "again", Day(1), 10, 0);
    ASSERT_EQ(Run(data).exit_status, 0);
    ASSERT_EQ(Run(data).exit_status, 0);
    EXPECT_EQ(Tours(), (std::vector<std::string>{"again", "again"}));
  });
}

TEST_F(TourDropTest, InvoiceNumberThatIsNotAWholeNumberNeverReachesAQuery) {
  OnDay([&] {
    // A database whose invoice ids are text: the stored text must not become part of the balance
    // query (it would select another invoice's balance here).
    program_->CreateSqliteDatabase(
        "INSERT INTO Company VALUES (1,'C','','','','','','','','','',0,0,'m@example.com',"
        "'f@example.com','F','" +
        smtp_->host_port() +
        "');"
        "DROP TABLE Invoice;"
        "CREATE TABLE Invoice (ID TEXT PRIMARY KEY, TourID INTEGER, Type TEXT, InvoiceTotal MONEY,"
        " Paid MONEY);"
        "INSERT INTO Customer VALUES (1,'C1');"
        "INSERT INTO Tour VALUES (1,'injected',1,'Contract - Signed');"
        "INSERT INTO TourItems (TourID, EndDate) VALUES (1," +
        Day(1) +
        ");"
        "INSERT INTO Invoice VALUES ('0 OR 1=1',1,'Daily',10,10);"
        "INSERT INTO Invoice VALUES ('-1',9,'Daily',999,0);");
    created_ = true;
    const ProcessResult result = Run("");
    EXPECT_EQ(result.exit_status, 65);
    EXPECT_NE(result.err.find("run-time error 13: Type mismatch (InvoiceNumber \"0 OR 1=1\" is not "
                              "a whole number)"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(smtp_->Messages().empty());
  });
}

TEST_F(TourDropTest, SecondInstanceWhileTheFirstIsSendingIsRefused) {
  CORVANE_REQUIRE_SERVICE(SmtpSinkAvailable());
  OnDay([&] {
    // smtp-sink holds each message's DATA for two seconds, so the first run is still sending.
    SmtpSink slow({"-w", "2"});
    program_->CreateSqliteDatabase(
        "INSERT INTO Company VALUES (1,'C','','','','','','','','','',0,0,'m@example.com',"
        "'f@example.com','F','" +
        slow.host_port() + "');" + Tour(1, "slow", Day(1), 10, 0));
    program_->WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@example.com", "7");
    ChildProcess first = program_->StartProgram();
    ASSERT_TRUE(program_->WaitUntilLocked());
    const ProcessResult second = program_->RunProgram();
    EXPECT_EQ(second.exit_status, 75);
    EXPECT_EQ(second.err, kStoodDown);
    const ProcessResult first_result = first.Wait(std::chrono::seconds(60));
    EXPECT_EQ(first_result.exit_status, 0) << first_result.err;
  });
}

}  // namespace
}  // namespace corvane::testing
