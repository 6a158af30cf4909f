// The tour-drop pass inside the loaded window, with the clock pinned: the log lines it appends
// and the SendMsg calls it makes, in order.
#include <gtest/gtest.h>

#include "base/process_end.h"
#include "support/form1_probe.h"
#include "support/recording_mail.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

using window::Form1;
using window::Form1Probe;

class TourDropWindowTest : public ::testing::Test {
 protected:
  TourDropWindowTest() {
    settings_.gTourAlertTo = "dispatch@example.com";
    settings_.gTourAlertDays = "7";
    settings_.gEmailServer = "relay.example.com";
    database_.Exec(
        "INSERT INTO Customer VALUES (1,'Hill Country Seniors');"
        "INSERT INTO Tour VALUES (1,'Capitol Day Trip',1,'Contract - Signed');"
        "INSERT INTO Tour VALUES (2,'Stockyards Rodeo',99,'Contract - Signed');"
        "INSERT INTO Tour VALUES (3,'Settled Tour',1,'Contract - Signed');"
        "INSERT INTO TourItems VALUES (1,1,'2026-12-08');"
        "INSERT INTO TourItems VALUES (2,2,'2026-12-09 14:30:00');"
        "INSERT INTO TourItems VALUES (3,3,'2026-12-09');"
        "INSERT INTO Invoice VALUES (101,1,'Daily',1200,800);"
        "INSERT INTO Invoice VALUES (102,2,'Monthly',300,100);"
        "INSERT INTO Invoice VALUES (103,3,'Daily',300,300);");
  }

  void Load() {
    try {
      form_.Load();
      ADD_FAILURE() << "loading the window did not end the process";
    } catch (const ProcessEnded& end) {
      EXPECT_EQ(end.status(), 0);
    }
  }

  TestDatabase database_{Engine::kSqlite};
  std::unique_ptr<data::Connection> connection_ = database_.Connect();
  RunSettings settings_;
  RecordingMailComponent mail_;
  FixedClock clock_{DateTime::FromParts(2026, 12, 7, 15, 4, 5)};
  RunTrace trace_;
  Form1 form_{*connection_, settings_, mail_, clock_, trace_};
};

TEST_F(TourDropWindowTest, EachAlertAppendsOneLogLineAfterItsMessage) {
  Load();
  EXPECT_EQ(form_.txtResults().text(),
            "Tour Alert: Open Invoice for Tour Drop Hill Country Seniors\t\tCapitol Day Trip\t\t\t"
            "12/7/2026 3:04:05 PM\r\n"
            "Tour Alert: Open Invoice for Tour Drop \t\tStockyards Rodeo\t\t\t"
            "12/7/2026 3:04:05 PM\r\n");
}

TEST_F(TourDropWindowTest, SendMsgGetsTheFixedSenderTheRecipientAndTheServer) {
  Load();
  const std::vector<RecordedMessage> messages = mail_.Messages();
  ASSERT_EQ(messages.size(), 2u);
  for (const RecordedMessage& m : messages) {
    EXPECT_EQ(m.from, "alerts@corvanetours.com");
    EXPECT_EQ(m.from_name, "Corvane Alert");
    EXPECT_EQ(m.to, std::vector<std::string>{"dispatch@example.com"});
    EXPECT_EQ(m.subject, "Tour Drop with open invoice");
    EXPECT_EQ(m.sent_through, std::vector<std::string>{"relay.example.com"});
    EXPECT_TRUE(m.released);
  }
  EXPECT_EQ(messages[1].body,
            "The following Tour has an open invoice and is about to end:\r\n\r\n"
            "Customer: \r\nTour: Stockyards Rodeo\r\nEnd Date: 12/09/2026\r\n"
            "Invoice Number: 102\r\nBalance: $200.00\r\n");
}

TEST_F(TourDropWindowTest, RefusedMessageIsNotLoggedAndEndsThePass) {
  mail_.FailAt("Send", 2);
  try {
    form_.Load();
    ADD_FAILURE() << "the refused message did not end the pass";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kMail);
  }
  EXPECT_EQ(form_.txtResults().text(),
            "Tour Alert: Open Invoice for Tour Drop Hill Country Seniors\t\tCapitol Day Trip\t\t\t"
            "12/7/2026 3:04:05 PM\r\n");
  EXPECT_EQ(mail_.live_objects(), 0);  // the failed message object was released too
  EXPECT_EQ(trace_.Describe(), "CheckTourDrops, row TourID 2");
}

TEST_F(TourDropWindowTest, ThePassCanRunAgainOnTheLoadedWindow) {
  Load();
  Form1Probe::CheckTourDrops(form_);
  EXPECT_EQ(mail_.Messages().size(), 4u);
  form_.btnClear().Click();
  EXPECT_EQ(form_.txtResults().text(), "");
}

}  // namespace
}  // namespace corvane::testing
