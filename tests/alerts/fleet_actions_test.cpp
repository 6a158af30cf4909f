// The fleet-action pass against a real database and a real SMTP server: which of the ticket's
// drivers and the action's notify address get the message, what it says, that the action (never
// its ticket) is marked, and what a failure halfway leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fleet_fixture.h"

namespace corvane::testing {
namespace {

using ActionAlerts = FleetTest;
using Ids = std::vector<long long>;
using Rows = std::map<long long, std::vector<std::string>>;

const std::string kAnn = "ann@corvanetours.com";
const std::string kBo = "bo@corvanetours.com";
const std::string kShop = "shop@corvanetours.com";

const std::string kTicketColumns =
    "INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles, Location,"
    " Priority, Status, AltReplyEmail, AddNotifyEmail, EnteredBy, EnteredDate, Description,"
    " EmailSent) VALUES ";
const std::string kActionColumns =
    "INSERT INTO HexmileAction (ID, TicketID, ActionDate, EmailDriver, AddNotifyEmail,"
    " Description, EnteredBy, EnteredDate, EmailSent) VALUES ";

// A ticket whose text does not matter to the test (still unsent itself: only actions are
// marked by this pass).
std::string PlainTicket(int id, int bus, const std::string& driver_sql,
                        const std::string& add_driver_sql) {
  return kTicketColumns + "(" + std::to_string(id) + ", " + std::to_string(bus) + ", " +
         driver_sql + ", " + add_driver_sql +
         ", '2026-12-02', 310, 'Route 9', 'Low', 'Closed', NULL, NULL, 'dispatch',"
         " '2026-12-02 06:00:00', 'Mirror cracked', 0);";
}

// An action whose text does not matter to the test.
std::string PlainAction(int id, int ticket, const std::string& email_driver_sql,
                        const std::string& notify_sql, const std::string& email_sent_sql = "0") {
  return kActionColumns + "(" + std::to_string(id) + ", " + std::to_string(ticket) +
         ", '2026-12-09', " + email_driver_sql + ", " + notify_sql +
         ", 'Done', 'Mia Chen', '2026-12-09 11:20:00', " + email_sent_sql + ");";
}

class ActionAlertsWithTickets : public FleetTest {
 protected:
  void SetUp() override {
    FleetTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Exec(kTicketColumns +
         "(7, 1, 1, 2, '2026-12-07 14:05:00', 48210, 'Depot North', 'High', 'Open',"
         " 'reply@corvanetours.com', 'shop@corvanetours.com', 'Jörg Weiß', '2026-12-08', " +
         Literal("Brakes squeal.\r\nPads at 4 mm.") + ", 0);" +
         // Ticket 8 has no additional driver.
         PlainTicket(8, 2, "1", "NULL"));
  }
};

// --- What is sent, marked and logged ------------------------------------------------------------

TEST_P(ActionAlertsWithTickets, BothDriversThenTheNotifyAddressGetTheSameMessage) {
  Exec(kActionColumns + "(21, 7, '2026-12-09', TRUE, 'shop@corvanetours.com', " +
       Literal("Pads replaced.\r\nTest drive OK.") + ", 'Mia Chen', '2026-12-09 11:20:00', 0);");

  SendActionAlerts();

  const std::string body =
      "Ticket ID: 7\r\n"
      "Bus: Coach 12\r\n"
      "Driver: Ann Ortiz\r\n"
      "Add Driver: Bo Lind\r\n"
      "Ticket Date: 12/7/2026 2:05:00 PM\r\n"
      "Miles: 48210\r\n"
      "Location: Depot North\r\n"
      "Priority: High\r\n"
      "Status: Open\r\n"
      "Entered: Jörg Weiß - 12/8/2026\r\n"
      "Description:\r\n"
      "\r\n"
      "Brakes squeal.\r\nPads at 4 mm.\r\n"
      "\r\n"
      "========================== ACTION =========================\r\n"
      "\r\n"
      "Action ID: 21\r\n"
      "Action Date: 12/9/2026\r\n"
      "Entered: Mia Chen - 12/9/2026 11:20:00 AM\r\n"
      "Description:\r\n"
      "\r\n"
      "Pads replaced.\r\nTest drive OK.";
  const std::string subject = "New Hexmile Action - Coach 12";
  EXPECT_EQ(NewMail(), (std::vector<Delivered>{{"ann@corvanetours.com", subject, body},
                                               {"bo@corvanetours.com", subject, body},
                                               {"shop@corvanetours.com", subject, body}}));
  EXPECT_EQ(Marked("HexmileAction"), Ids{21});
  EXPECT_EQ(Marked("HexmileTicket"), Ids{});  // the ticket keeps its own mark
  EXPECT_EQ(Log(), "HM Action: 21\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n");

  SendActionAlerts();  // nothing left to send
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Logged(), Ids{21});
}

TEST_P(ActionAlertsWithTickets, OnlyATrueDriverFlagMailsTheDriversAndEveryActionIsMarked) {
  Exec(PlainAction(31, 7, "FALSE", "'shop@corvanetours.com'") +
       PlainAction(32, 7, "NULL", "NULL") +  // nobody to tell
       PlainAction(33, 8, "TRUE", "NULL") +  // ticket 8 has no additional driver
       PlainAction(34, 7, "TRUE", "''"));

  SendActionAlerts();

  EXPECT_EQ(ByRow(NewMail()), (Rows{{31, {kShop}}, {33, {kAnn}}, {34, {kAnn, kBo}}}));
  EXPECT_EQ(Marked("HexmileAction"), (Ids{31, 32, 33, 34}));
  EXPECT_EQ(Marked("HexmileTicket"), Ids{});
  // One line per action, in the order handled (the query has no order of its own).
  const std::map<long long, std::string> lines = {
      {31, "HM Action: 31\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n"},
      {32, "HM Action: 32\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n"},
      {33, "HM Action: 33\t\tCoach 31\t\t\t12/9/2026 4:45:07 PM\r\n"},
      {34, "HM Action: 34\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n"}};
  std::string expected_log;
  for (const long long id : Logged()) expected_log += lines.at(id);
  EXPECT_EQ(Log(), expected_log);
  EXPECT_EQ(Logged().size(), 4u);
}

TEST_P(ActionAlertsWithTickets, AnAddressInSeveralRecipientColumnsGetsOneCopyPerColumn) {
  Exec(PlainTicket(9, 1, "1", "1") + PlainAction(51, 9, "TRUE", "'ann@corvanetours.com'"));
  SendActionAlerts();
  EXPECT_EQ(ByRow(NewMail()), (Rows{{51, {kAnn, kAnn, kAnn}}}));
  EXPECT_EQ(Marked("HexmileAction"), Ids{51});
}

TEST_P(ActionAlertsWithTickets, OnlyActionsWithEmailSentZeroOrNullAreSelected) {
  Exec(PlainAction(61, 7, "FALSE", "'shop@corvanetours.com'", "0") +
       PlainAction(62, 7, "FALSE", "'shop@corvanetours.com'", "NULL") +
       PlainAction(63, 7, "FALSE", "'shop@corvanetours.com'", "1") +
       PlainAction(64, 7, "FALSE", "'shop@corvanetours.com'", "2"));

  SendActionAlerts();

  EXPECT_EQ(ByRow(NewMail()), (Rows{{61, {kShop}}, {62, {kShop}}}));
  EXPECT_EQ(Unsent("HexmileAction"), Ids{});
  Ids logged = Logged();
  std::sort(logged.begin(), logged.end());
  EXPECT_EQ(logged, (Ids{61, 62}));
}

TEST_P(ActionAlerts, AnActionWithoutItsTicketIsSentToItsNotifyAddressOnlyAndMarked) {
  // Ticket 999 does not exist: no bus, no drivers, no ticket columns. The driver flag is set,
  // but there is no driver address to use.
  Exec(kActionColumns +
       "(41, 999, '2026-12-08', TRUE, 'shop@corvanetours.com', NULL, 'Jörg Weiß',"
       " '2026-12-08 07:15:00', 0);");

  SendActionAlerts();

  const std::string body =
      "Ticket ID: \r\n"
      "Bus: \r\n"
      "Driver: \r\n"
      "Add Driver: \r\n"
      "Ticket Date: \r\n"
      "Miles: \r\n"
      "Location: \r\n"
      "Priority: \r\n"
      "Status: \r\n"
      "Entered:  - \r\n"
      "Description:\r\n"
      "\r\n"
      "\r\n"
      "\r\n"
      "========================== ACTION =========================\r\n"
      "\r\n"
      "Action ID: 41\r\n"
      "Action Date: 12/8/2026\r\n"
      "Entered: Jörg Weiß - 12/8/2026 7:15:00 AM\r\n"
      "Description:\r\n"
      "\r\n";
  EXPECT_EQ(NewMail(),
            (std::vector<Delivered>{{"shop@corvanetours.com", "New Hexmile Action - ", body}}));
  EXPECT_EQ(Marked("HexmileAction"), Ids{41});
  EXPECT_EQ(Log(), "HM Action: 41\t\t\t\t\t12/9/2026 4:45:07 PM\r\n");
}

TEST_P(ActionAlerts, ABlankDriverAddressCountsAsSetAndItsRefusalLeavesTheActionUnmarked) {
  Exec("INSERT INTO Driver (ID, Name, Email) VALUES (3, 'Cy Park', '   ');" +
       PlainTicket(10, 1, "3", "NULL") + PlainAction(71, 10, "TRUE", "NULL"));
  const Error error = SendActionAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kMail);
  EXPECT_NE(error.description().find("\"   \""), std::string::npos) << error.what();
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Unsent("HexmileAction"), Ids{71});
}

// --- Failures: what was handed over stays, what was not stays unmarked --------------------------
// Action 81 (three messages) and 83 (one) go out whole unless the pass stops before them; action
// 82 fails.

class ActionFailures : public ActionAlertsWithTickets {
 protected:
  void SetUp() override {
    ActionAlertsWithTickets::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    Exec(
        "INSERT INTO Driver (ID, Name, Email) VALUES (4, 'Rex Roe', "
        "'refused-rex@corvanetours.com');" +
        PlainAction(81, 7, "TRUE", "'shop@corvanetours.com'") +
        PlainAction(83, 8, "FALSE", "'yard@corvanetours.com'"));
  }

  // The three actions with all their recipients once action 82's are `whole_82`.
  static Rows Whole(const std::vector<std::string>& whole_82) {
    return {{81, {kAnn, kBo, kShop}}, {82, whole_82}, {83, {"yard@corvanetours.com"}}};
  }

  // Lets action 82 through (Rex gets a good address) and checks that the next call sends it
  // whole, together with whatever the failed call did not reach.
  void ExpectSentWholeNextTime(const Ids& done, const std::vector<std::string>& whole_82) {
    Exec("UPDATE Driver SET Email = 'rex@corvanetours.com' WHERE ID = 4;");
    SendActionAlerts();
    ExpectRestSent("HexmileAction", done, Whole(whole_82));
  }
};

const std::string kRex = "rex@corvanetours.com";

TEST_P(ActionFailures, ARejectedFirstDriverMessage) {
  Exec(PlainTicket(11, 1, "4", "2") + PlainAction(82, 11, "TRUE", "'shop@corvanetours.com'"));
  EXPECT_EQ(SendActionAlertsFailing().kind(), ErrorKind::kMail);
  const Ids done = ExpectStoppedAt("HexmileAction", 82, {}, Whole({kRex, kBo, kShop}));
  ExpectSentWholeNextTime(done, {kRex, kBo, kShop});
}

TEST_P(ActionFailures, ARejectedSecondDriverMessage) {
  Exec(PlainTicket(12, 1, "1", "4") + PlainAction(82, 12, "TRUE", "'shop@corvanetours.com'"));
  EXPECT_EQ(SendActionAlertsFailing().kind(), ErrorKind::kMail);
  const Ids done = ExpectStoppedAt("HexmileAction", 82, {kAnn}, Whole({kAnn, kRex, kShop}));
  ExpectSentWholeNextTime(done, {kAnn, kRex, kShop});
}

TEST_P(ActionFailures, ARejectedNotifyMessage) {
  Exec(PlainAction(82, 7, "TRUE", "'refused-rex@corvanetours.com'"));
  EXPECT_EQ(SendActionAlertsFailing().kind(), ErrorKind::kMail);
  const Ids done = ExpectStoppedAt("HexmileAction", 82, {kAnn, kBo}, Whole({kAnn, kBo, kShop}));
  Exec("UPDATE HexmileAction SET AddNotifyEmail = 'shop@corvanetours.com' WHERE ID = 82;");
  ExpectSentWholeNextTime(done, {kAnn, kBo, kShop});
}

TEST_P(ActionFailures, ARefusedMark) {
  Exec(PlainAction(82, 8, "TRUE", "'shop@corvanetours.com'"));
  RefuseMarks("HexmileAction", 82);
  const Error error = SendActionAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kDatabase);
  EXPECT_NE(error.description().find("marks of row 82 are refused"), std::string::npos)
      << error.what();
  const Ids done = ExpectStoppedAt("HexmileAction", 82, {kAnn, kShop}, Whole({kAnn, kShop}));
  AllowMarks("HexmileAction");
  ExpectSentWholeNextTime(done, {kAnn, kShop});
}

TEST_P(ActionFailures, AMarkThatFindsItsActionGone) {
  Exec(PlainAction(82, 8, "TRUE", "'shop@corvanetours.com'"));
  // Another client deletes action 82 while its last message is on the way.
  int messages_82 = 0;
  OnEachMessage([&](const std::string& body) {
    if (body.find("\r\nAction ID: 82\r\n") != std::string::npos && ++messages_82 == 2) {
      Exec("DELETE FROM HexmileAction WHERE ID = 82;");
    }
  });
  const Error error = SendActionAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kDatabase);
  EXPECT_EQ(error.number(), errnum::kRowCannotBeLocated) << error.what();
  Rows whole = Whole({});
  whole.erase(82);
  const Ids done = ExpectStoppedAt("HexmileAction", 82, {kAnn, kShop}, whole);
  SendActionAlerts();
  ExpectRestSent("HexmileAction", done, whole);
}

TEST_P(ActionFailures, ARefusedQueryEndsThePassBeforeAnyMessage) {
  Exec("ALTER TABLE HexmileTicket DROP COLUMN Status;");
  EXPECT_EQ(SendActionAlertsFailing().kind(), ErrorKind::kDatabase);
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Unsent("HexmileAction"), (Ids{81, 83}));
  EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(Engines, ActionAlerts, AllEngines(), EngineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, ActionAlertsWithTickets, AllEngines(), EngineTestName);
INSTANTIATE_TEST_SUITE_P(Engines, ActionFailures, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
