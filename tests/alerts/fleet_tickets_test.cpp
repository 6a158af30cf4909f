// The fleet-ticket pass against a real database and a real SMTP server: who gets which message,
// what it says, which tickets end up marked, and what a failure halfway leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fleet_fixture.h"

namespace corvane::testing {
namespace {

using TicketAlerts = FleetTest;
using Ids = std::vector<long long>;
using Rows = std::map<long long, std::vector<std::string>>;

const std::string kMaint = "maintenance@corvanetours.com";

const std::string kTicketColumns =
    "INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles, Location,"
    " Priority, Status, AltReplyEmail, AddNotifyEmail, EnteredBy, EnteredDate, Description,"
    " EmailSent) VALUES ";

// A ticket on Coach 12 whose text does not matter to the test.
std::string PlainTicket(int id, const std::string& notify_sql = "NULL",
                        const std::string& email_sent_sql = "0", int bus = 1) {
  return kTicketColumns + "(" + std::to_string(id) + ", " + std::to_string(bus) +
         ", 1, NULL, '2026-12-01', 100, 'Yard', 'Low', 'Open', NULL, " + notify_sql +
         ", 'dispatch', '2026-12-01', 'Check tyres', " + email_sent_sql + ");";
}

// --- What is sent, marked and logged ------------------------------------------------------------

TEST_P(TicketAlerts, ATicketGoesToMaintenanceThenToItsNotifyAddressThenIsMarkedAndLogged) {
  Exec(kTicketColumns +
       "(7, 1, 1, 2, '2026-12-07 14:05:00', 48210, 'Depot North', 'High',"
       " 'Open', 'reply@corvanetours.com', 'shop@corvanetours.com', 'Jörg Weiß', '2026-12-08', " +
       Literal("Brakes squeal at low speed.\r\nChecked pads: 4 mm left.\nRecheck at 50,000 "
               "miles.") +
       ", 0);");

  SendTicketAlerts();

  const std::string body =
      "Ticket ID: 7\r\n"
      "Bus: Coach 12\r\n"
      "Driver: Ann Ortiz\r\n"
      "Add Driver: Bo Lind\r\n"
      "Ticket Date: 12/7/2026 2:05:00 PM\r\n"
      "Miles: 48210\r\n"
      "Location: Depot North\r\n"
      "Priority: High\r\n"
      "Add. Notify Email: shop@corvanetours.com   \r\n"
      "Entered: Jörg Weiß - 12/8/2026\r\n"
      "Description:\r\n"
      "\r\n"
      "Brakes squeal at low speed.\r\nChecked pads: 4 mm left.\nRecheck at 50,000 miles.";
  const std::string subject = "New Hexmile Ticket - Coach 12";
  EXPECT_EQ(NewMail(), (std::vector<Delivered>{{"maintenance@corvanetours.com", subject, body},
                                               {"shop@corvanetours.com", subject, body}}));
  EXPECT_EQ(Marked("HexmileTicket"), Ids{7});
  EXPECT_EQ(Log(), "HM Ticket: 7\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n");

  // Marked means done: the next call finds nothing, sends nothing and logs nothing.
  SendTicketAlerts();
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Log(), "HM Ticket: 7\t\tCoach 12\t\t\t12/9/2026 4:45:07 PM\r\n");
}

TEST_P(TicketAlerts, OnlyTicketsWithEmailSentZeroOrNullAreSelected) {
  Exec(PlainTicket(1, "NULL", "0") + PlainTicket(2, "NULL", "NULL") + PlainTicket(3, "NULL", "1") +
       PlainTicket(4, "NULL", "2"));

  SendTicketAlerts();

  EXPECT_EQ(ByRow(NewMail()), (Rows{{1, {kMaint}}, {2, {kMaint}}}));
  EXPECT_EQ(Unsent("HexmileTicket"), Ids{});
  Ids logged = Logged();
  std::sort(logged.begin(), logged.end());  // the query has no order
  EXPECT_EQ(logged, (Ids{1, 2}));
}

TEST_P(TicketAlerts, MissingBusDriversAndEmptyColumnsLeaveOnlyTheirLabels) {
  // Bus 99 and additional driver 98 do not exist; everything else is Null or empty text.
  Exec(kTicketColumns +
       "(8, 99, NULL, 98, NULL, NULL, NULL, '', NULL, NULL, '', NULL, NULL, NULL, 0);");
  SendTicketAlerts();
  // An empty notify address: one message, to maintenance only.
  const std::string empty_ticket_tail =
      "Bus: \r\n"
      "Driver: \r\n"
      "Add Driver: \r\n"
      "Ticket Date: \r\n"
      "Miles: \r\n"
      "Location: \r\n"
      "Priority: \r\n"
      "Add. Notify Email:    \r\n"
      "Entered:  - \r\n"
      "Description:\r\n"
      "\r\n";
  EXPECT_EQ(NewMail(),
            (std::vector<Delivered>{{"maintenance@corvanetours.com", "New Hexmile Ticket - ",
                                     "Ticket ID: 8\r\n" + empty_ticket_tail}}));
  EXPECT_EQ(Log(), "HM Ticket: 8\t\t\t\t\t12/9/2026 4:45:07 PM\r\n");

  // A Null notify address and an empty description read the same.
  Exec(kTicketColumns +
       "(9, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, '', NULL);");
  SendTicketAlerts();
  EXPECT_EQ(NewMail(),
            (std::vector<Delivered>{{"maintenance@corvanetours.com", "New Hexmile Ticket - ",
                                     "Ticket ID: 9\r\n" + empty_ticket_tail}}));
  EXPECT_EQ(Log(),
            "HM Ticket: 8\t\t\t\t\t12/9/2026 4:45:07 PM\r\n"
            "HM Ticket: 9\t\t\t\t\t12/9/2026 4:45:07 PM\r\n");
  EXPECT_EQ(Marked("HexmileTicket"), (Ids{8, 9}));
}

TEST_P(TicketAlerts, ANotifyAddressEqualToMaintenanceGetsTwoCopies) {
  Exec(PlainTicket(1, "'maintenance@corvanetours.com'"));
  SendTicketAlerts();
  EXPECT_EQ(ByRow(NewMail()), (Rows{{1, {kMaint, kMaint}}}));
  EXPECT_EQ(Marked("HexmileTicket"), Ids{1});
}

TEST_P(TicketAlerts, AColumnAddedByAnotherClientAfterStartUpShiftsNoValue) {
  // The window's connection has read the tables at start-up; then the table gains a column in
  // the middle of what HM.* returns, ahead of the joined names.
  Exec(PlainTicket(1, "'shop@corvanetours.com'") +
       "ALTER TABLE HexmileTicket ADD COLUMN Odometer INTEGER;");
  SendTicketAlerts();
  const std::vector<Delivered> mail = NewMail();
  EXPECT_EQ(ByRow(mail), (Rows{{1, {kMaint, "shop@corvanetours.com"}}}));
  ASSERT_FALSE(mail.empty());
  EXPECT_EQ(mail[0].subject, "New Hexmile Ticket - Coach 12");
  EXPECT_TRUE(mail[0].body.starts_with("Ticket ID: 1\r\nBus: Coach 12\r\nDriver: Ann Ortiz\r\n"))
      << mail[0].body;
  EXPECT_EQ(Marked("HexmileTicket"), Ids{1});
}

TEST_P(TicketAlerts, EachTicketIsSentMarkedAndLoggedBeforeTheNextIsRead) {
  Exec(PlainTicket(1, "'shop@corvanetours.com'") + PlainTicket(2) +
       PlainTicket(3, "'yard@corvanetours.com'"));
  // Right after each message: its ticket, the marked tickets and the logged ones.
  struct Moment {
    long long ticket;
    Ids marked;
    Ids logged;
  };
  std::vector<Moment> moments;
  OnEachMessage([&](const std::string& body) {
    moments.push_back({std::stoll(body.substr(11)), Marked("HexmileTicket"), Logged()});
  });

  SendTicketAlerts();

  // The log gives the order of handling; the messages come in one run per ticket in that
  // order, and while a ticket's messages go out exactly the tickets before it are marked.
  const Ids order = Logged();
  ASSERT_EQ(order.size(), 3u);
  const std::map<long long, std::size_t> messages = {{1, 2}, {2, 1}, {3, 2}};
  std::size_t k = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Ids before(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(i));
    Ids before_sorted = before;
    std::sort(before_sorted.begin(), before_sorted.end());
    for (std::size_t j = 0; j < messages.at(order[i]); ++j, ++k) {
      ASSERT_LT(k, moments.size());
      EXPECT_EQ(moments[k].ticket, order[i]);
      EXPECT_EQ(moments[k].marked, before_sorted);
      EXPECT_EQ(moments[k].logged, before);
    }
  }
  EXPECT_EQ(k, moments.size());
  EXPECT_EQ(ByRow(NewMail()), (Rows{{1, {kMaint, "shop@corvanetours.com"}},
                                    {2, {kMaint}},
                                    {3, {kMaint, "yard@corvanetours.com"}}}));
}

// --- Failures: what was handed over stays, what was not stays unmarked --------------------------

TEST_P(TicketAlerts, ARefusedQueryEndsThePassBeforeAnyMessage) {
  Exec(PlainTicket(1) + "DROP TABLE Driver;");
  EXPECT_EQ(SendTicketAlertsFailing().kind(), ErrorKind::kDatabase);
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Unsent("HexmileTicket"), Ids{1});
  EXPECT_EQ(Log(), "");
}

TEST_P(TicketAlerts, AColumnMissingFromTheRowStopsThePassBeforeTheTicketsFirstMessage) {
  Exec(PlainTicket(1) + "ALTER TABLE HexmileTicket DROP COLUMN Miles;");
  EXPECT_EQ(SendTicketAlertsFailing().kind(), ErrorKind::kDatabase);
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Unsent("HexmileTicket"), Ids{1});
  EXPECT_EQ(Log(), "");
}

TEST_P(TicketAlerts, ARejectedFirstMessageLeavesTheTicketUnmarked) {
  Exec(PlainTicket(1) + PlainTicket(2));
  settings_.gMaintenanceEmail = "refused-maintenance@corvanetours.com";  // the server says 550

  const Error error = SendTicketAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kMail);
  EXPECT_NE(error.description().find("550"), std::string::npos) << error.what();
  EXPECT_EQ(NewMail(), std::vector<Delivered>{});
  EXPECT_EQ(Unsent("HexmileTicket"), (Ids{1, 2}));
  EXPECT_EQ(Log(), "");

  settings_.gMaintenanceEmail = kMaintenance;
  SendTicketAlerts();
  ExpectRestSent("HexmileTicket", {}, {{1, {kMaint}}, {2, {kMaint}}});
}

TEST_P(TicketAlerts, AFirstMessageRefusedByTheMailerStopsThePassAtItsTicket) {
  // A line break in the bus name would end the subject header: the mailer refuses the message
  // before anything of it reaches the server.
  Exec("INSERT INTO Bus (ID, Name) VALUES (3, " + Literal("Coach\r\nBcc: all@example.com") + ");" +
       PlainTicket(1) + PlainTicket(2, "NULL", "0", 3) + PlainTicket(3));
  const Rows whole = {{1, {kMaint}}, {2, {kMaint}}, {3, {kMaint}}};

  EXPECT_EQ(SendTicketAlertsFailing().kind(), ErrorKind::kMail);
  const Ids done = ExpectStoppedAt("HexmileTicket", 2, {}, whole);

  Exec("UPDATE Bus SET Name = 'Coach 3' WHERE ID = 3;");
  SendTicketAlerts();
  ExpectRestSent("HexmileTicket", done, whole);
}

TEST_P(TicketAlerts, ARejectedSecondMessageLeavesTheTicketToBeSentWholeAgain) {
  Exec(PlainTicket(1, "'shop@corvanetours.com'") + PlainTicket(2, "'refused@corvanetours.com'") +
       PlainTicket(3));
  const Rows whole = {{1, {kMaint, "shop@corvanetours.com"}},
                      {2, {kMaint, "yard@corvanetours.com"}},
                      {3, {kMaint}}};

  EXPECT_EQ(SendTicketAlertsFailing().kind(), ErrorKind::kMail);
  const Ids done = ExpectStoppedAt("HexmileTicket", 2, {kMaint}, whole);

  Exec("UPDATE HexmileTicket SET AddNotifyEmail = 'yard@corvanetours.com' WHERE ID = 2;");
  SendTicketAlerts();
  ExpectRestSent("HexmileTicket", done, whole);  // ticket 2's maintenance copy goes again
}

TEST_P(TicketAlerts, ABlankNotifyAddressCountsAsSetAndItsRefusalLeavesTheTicketUnmarked) {
  Exec(PlainTicket(1, "'   '"));
  const Error error = SendTicketAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kMail);
  EXPECT_NE(error.description().find("\"   \""), std::string::npos) << error.what();
  ExpectStoppedAt("HexmileTicket", 1, {kMaint}, {{1, {}}});
}

TEST_P(TicketAlerts, ARefusedMarkIsAFailureAndTheTicketIsSentAgain) {
  Exec(PlainTicket(1) + PlainTicket(2, "'shop@corvanetours.com'") + PlainTicket(3));
  const Rows whole = {{1, {kMaint}}, {2, {kMaint, "shop@corvanetours.com"}}, {3, {kMaint}}};
  RefuseMarks("HexmileTicket", 2);

  const Error error = SendTicketAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kDatabase);
  EXPECT_NE(error.description().find("marks of row 2 are refused"), std::string::npos)
      << error.what();
  const Ids done = ExpectStoppedAt("HexmileTicket", 2, whole.at(2), whole);

  AllowMarks("HexmileTicket");
  SendTicketAlerts();
  ExpectRestSent("HexmileTicket", done, whole);
}

TEST_P(TicketAlerts, AMarkThatFindsItsTicketGoneIsAFailure) {
  Exec(PlainTicket(1) + PlainTicket(2) + PlainTicket(3));
  // Another client deletes ticket 2 while its message is on the way.
  OnEachMessage([&](const std::string& body) {
    if (body.starts_with("Ticket ID: 2\r\n")) Exec("DELETE FROM HexmileTicket WHERE ID = 2;");
  });

  const Error error = SendTicketAlertsFailing();
  EXPECT_EQ(error.kind(), ErrorKind::kDatabase);
  EXPECT_EQ(error.number(), errnum::kRowCannotBeLocated) << error.what();
  const Ids done = ExpectStoppedAt("HexmileTicket", 2, {kMaint}, {{1, {kMaint}}, {3, {kMaint}}});

  SendTicketAlerts();
  ExpectRestSent("HexmileTicket", done, {{1, {kMaint}}, {3, {kMaint}}});
}

INSTANTIATE_TEST_SUITE_P(Engines, TicketAlerts, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
