// Hostile values from the database, end to end through the fleet passes and the real mail
// component to aiosmtpd, read back by Python's e-mail parser: the server sees exactly the
// intended sender, recipient and headers, and the text arrives byte for byte. A value that
// cannot travel safely (a line break in a subject or an address) is refused with a clear error
// and its row stays unmarked; it is never repaired.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mail/delivering_component.h"
#include "base/status_codes.h"
#include "support/local_day.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kMaintenance = "maintenance@corvanetours.com";

// An SQLite expression for any bytes, NUL and broken UTF-8 included.
std::string SqlBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex += kHex[b >> 4];
    hex += kHex[b & 0x0F];
  }
  return "CAST(X'" + hex + "' AS TEXT)";
}

// A ticket whose every text column is given; bus 1, drivers 1 and 2.
std::string Ticket(int id, std::string_view notify, std::string_view location,
                   std::string_view priority, std::string_view entered_by,
                   std::string_view description) {
  return "INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles,"
         " Location, Priority, Status, AddNotifyEmail, EnteredBy, EnteredDate, Description,"
         " EmailSent) VALUES (" +
         std::to_string(id) + ", 1, 1, 2, '2026-12-01', 120500, " + SqlBytes(location) + ", " +
         SqlBytes(priority) + ", 'Open', " + (notify.empty() ? "NULL" : SqlBytes(notify)) + ", " +
         SqlBytes(entered_by) + ", '2026-12-01 08:00:00', " + SqlBytes(description) + ", 0);";
}

std::string Fleet(std::string_view bus, std::string_view driver, std::string_view add_driver) {
  return "INSERT INTO Bus (ID, Name) VALUES (1, " + SqlBytes(bus) + ");" +
         "INSERT INTO Driver (ID, Name, Email) VALUES (1, " + SqlBytes(driver) +
         ", 'dana@corvanetours.com'), (2, " + SqlBytes(add_driver) + ", 'lee@corvanetours.com');";
}

std::string WithoutBlanks(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

std::size_t CountCommands(const SmtpServer& server, std::string_view verb) {
  const std::vector<std::string> commands = server.Commands();
  return static_cast<std::size_t>(std::count(commands.begin(), commands.end(), verb));
}

// A harness on SQLite with its window loaded against `server`.
class Loaded {
 public:
  Loaded(const SmtpServer& server, const std::string& rows) : harness_(Engine::kSqlite) {
    harness_.db().Exec(rows);
    harness_.WriteCompany(server.host_port());
  }
  PassHarness* operator->() { return &harness_; }
  void Load() { harness_.LoadWindow(mail_); }

 private:
  mail::DeliveringMailComponent mail_{"/nonexistent", {}};  // outlives the window
  PassHarness harness_;
};

TEST(HostileValues, LineBreaksNulSeparatorsAndHugeTextInTheBodyArriveByteForByte) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  const std::string driver = "Dana\r\nBcc: evil@evil.test";
  const std::string add_driver = "Lee\xE2\x80\xA8Park \xC3\x98stergaard";  // U+2028, non-ASCII
  const std::string location = "Yard\rGate B";                             // bare CR
  const std::string priority = "High\nRCPT TO:<evil@evil.test>";           // bare LF
  const std::string entered_by = std::string("jo\0nul", 6);                // NUL
  std::string description =
      "Brakes squeal.\r\n.\r\nMAIL FROM:<evil@evil.test>\r\nRCPT TO:<evil@evil.test>\r\nDATA\r\n"
      "From the depot: ..dots, = signs =3D, trailing blanks   \r\n"
      "Z\xC3\xBCrich \xE2\x80\x93 \xC2\xBD \xE2\x9C\x93 \xF0\x9F\x9A\x8C\r\n"
      "bare\rCR, bare\nLF, line\xE2\x80\xA8separator, paragraph\xE2\x80\xA9separator\r\n";
  description += std::string("a NUL\0 in the text\r\n", 20);
  description += std::string(5000, 'L') + "\r\n";  // one line of 5,000 characters
  while (description.size() < 100 * 1024) description += "Pad line with = and . and tabs\t\r\n";
  description += "last line without a line break";

  Loaded harness(server, Fleet("Coach 7", driver, add_driver) +
                             Ticket(1, "", location, priority, entered_by, description));
  harness.Load();
  const PassOutcome outcome = harness->SendTicketAlerts();
  ASSERT_FALSE(outcome.error) << outcome.report();

  const std::vector<ReceivedMessage> messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  const ReceivedMessage& m = messages[0];
  EXPECT_EQ(m.defects, std::vector<std::string>{});
  EXPECT_EQ(m.envelope_from, "fleet@corvanetours.com");
  EXPECT_EQ(m.recipients, std::vector<std::string>{kMaintenance});
  EXPECT_EQ(m.to, (std::vector<MailboxField>{{"", kMaintenance}}));
  EXPECT_EQ(m.cc, std::vector<MailboxField>{});
  EXPECT_EQ(m.bcc, std::vector<MailboxField>{});
  EXPECT_EQ(m.subject, "New Hexmile Ticket - Coach 7");
  const std::string body =
      "Ticket ID: 1\r\nBus: Coach 7\r\nDriver: " + driver + "\r\nAdd Driver: " + add_driver +
      "\r\nTicket Date: 12/1/2026\r\nMiles: 120500\r\nLocation: " + location +
      "\r\nPriority: " + priority + "\r\nAdd. Notify Email:    \r\nEntered: " + entered_by +
      " - 12/1/2026 8:00:00 AM\r\nDescription:\r\n\r\n" + description;
  EXPECT_TRUE(m.body == body) << "the body differs from the joined values";
  // The raw message never has a line over 998 octets, however long the description's lines.
  std::size_t longest = 0;
  std::size_t line = 0;
  for (const char c : m.raw) {
    line = c == '\n' ? 0 : line + 1;
    longest = std::max(longest, line);
  }
  EXPECT_LE(longest, 999u);  // 998 and the CR
  EXPECT_EQ(CountCommands(server, "MAIL"), 1u);
  EXPECT_EQ(CountCommands(server, "RCPT"), 1u);
  EXPECT_EQ(harness->Marked("HexmileTicket"), std::vector<long long>{1});
}

TEST(HostileValues, WindowsCodePageTextArrivesAsTheSameCharactersInUtf8) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  // "Jörg's bus – 5€" as the old Windows programs stored it (code page 1252).
  Loaded harness(server, Fleet("Coach 7", "J\xF6rg", "Lee") +
                             Ticket(1, "", "Yard", "Low", "jo", "J\xF6rg's bus \x96 5\x80"));
  harness.Load();
  ASSERT_FALSE(harness->SendTicketAlerts().error);
  const std::vector<ReceivedMessage> messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0].body, HasSubstr("Driver: J\xC3\xB6rg\r\n"));
  EXPECT_TRUE(messages[0].body.ends_with("J\xC3\xB6rg's bus \xE2\x80\x93 5\xE2\x82\xAC"));
}

TEST(HostileValues, ABusNameBecomesTheSubjectExactlyOrIsRefusedWhenItCannot) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  const std::vector<std::string> sendable = {
      "Coach \"7\", <spare> & co", "Coach Z\xC3\xBCrich \xE2\x80\x93 7",
      "Coach\xE2\x80\xA8Seven",  // U+2028
      "Coach\t7 \x1B[1m",          "=?utf-8?q?Bcc=3A_evil=40evil=2Etest?=", "  Coach   7  ",
      std::string(300, 'C'),
  };
  std::size_t expected_messages = 0;
  for (const std::string& bus : sendable) {
    SCOPED_TRACE(bus.substr(0, 40));
    Loaded harness(server, Fleet(bus, "Dana", "Lee") + Ticket(1, "", "Yard", "Low", "jo", "x"));
    harness.Load();
    const PassOutcome outcome = harness->SendTicketAlerts();
    ASSERT_FALSE(outcome.error) << outcome.report();
    const std::vector<ReceivedMessage> messages = server.Messages();
    ASSERT_EQ(messages.size(), ++expected_messages);
    EXPECT_EQ(messages.back().subject, "New Hexmile Ticket - " + bus);
    EXPECT_EQ(messages.back().defects, std::vector<std::string>{});
    EXPECT_EQ(messages.back().to, (std::vector<MailboxField>{{"", kMaintenance}}));
    EXPECT_EQ(harness->Marked("HexmileTicket"), std::vector<long long>{1});
  }

  const std::vector<std::string> unsafe = {"Coach 7\r\nBcc: evil@evil.test", "Coach 7\rX",
                                           "Coach 7\nBcc: evil@evil.test",
                                           std::string("Coach 7\0Bcc", 11)};
  for (const std::string& bus : unsafe) {
    SCOPED_TRACE(bus);
    Loaded harness(server, Fleet(bus, "Dana", "Lee") + Ticket(1, "", "Yard", "Low", "jo", "x"));
    harness.Load();
    const PassOutcome outcome = harness->SendTicketAlerts();
    ASSERT_TRUE(outcome.error) << "an unsafe subject must be refused";
    EXPECT_EQ(outcome.exit_status(), exit_status::kMailFailed);
    EXPECT_EQ(outcome.error->number(), 5);
    EXPECT_THAT(outcome.report(), HasSubstr("subject"));
    EXPECT_THAT(outcome.report(), Not(HasSubstr("\n")));  // the report stays one line
    EXPECT_EQ(harness->Marked("HexmileTicket"), std::vector<long long>{});
  }
  EXPECT_EQ(server.Messages().size(), expected_messages);  // nothing more reached the server
  EXPECT_EQ(CountCommands(server, "MAIL"), expected_messages);
}

// A list of mailboxes is a list people typed; anything that is not one, or that smuggles a
// command or a header line, is refused before the server sees it.
TEST(HostileValues, AnAddressThatIsNoMailboxListIsRefusedAndNeverReachesTheServer) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  const std::vector<std::string> addresses = {
      "shop@corvanetours.com\r\nRCPT TO:<evil@evil.test>",
      "shop@corvanetours.com>\r\nRCPT TO:<evil@evil.test",
      "shop@corvanetours.com> RCPT TO:<evil@evil.test",
      "shop@corvanetours.com>,<evil@evil.test",
      "shop@corvanetours.com, evil",
      "Shop <shop@corvanetours.com",
      "shop@corvanetours.com\n",
      std::string("shop@corvanetours.com\0evil@evil.test", 36),
      "\"evil@evil.test\"@corvanetours.com",
      "sh\xC3\xB6p@corvanetours.com",
      "shop@corvanetours.com\xE2\x80\xA8RCPT TO:<evil@evil.test>",
      "shop@corvanetours.com\rRCPT TO:<evil@evil.test>",
  };
  std::size_t maintenance_copies = 0;
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    Loaded harness(server,
                   Fleet("Coach 7", "Dana", "Lee") + Ticket(1, address, "Yard", "Low", "jo", "x"));
    harness.Load();
    const PassOutcome outcome = harness->SendTicketAlerts();
    ASSERT_TRUE(outcome.error) << "the address must be refused";
    EXPECT_EQ(outcome.exit_status(), exit_status::kMailFailed);
    EXPECT_EQ(outcome.error->number(), 5);
    EXPECT_THAT(outcome.report(), HasSubstr("recipient address"));
    EXPECT_THAT(outcome.report(), Not(HasSubstr("\n")));
    // The first message (to maintenance) went; the ticket's second did not, so no mark.
    EXPECT_EQ(server.Messages().size(), ++maintenance_copies);
    EXPECT_EQ(harness->Marked("HexmileTicket"), std::vector<long long>{});
  }
  for (const ReceivedMessage& m : server.Messages()) {
    EXPECT_EQ(m.recipients, std::vector<std::string>{kMaintenance});
  }
  EXPECT_EQ(CountCommands(server, "RCPT"), maintenance_copies);
}

TEST(HostileValues, DriverAddressesOfTheActionPassAreCheckedTheSameWay) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  Loaded harness(server,
                 "INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 7');"
                 "INSERT INTO Driver (ID, Name, Email) VALUES (1, 'Dana', " +
                     SqlBytes("dana@corvanetours.com\r\nRCPT TO:<evil@evil.test>") + ");" +
                     Ticket(1, "", "Yard", "Low", "jo", "x") +
                     "UPDATE HexmileTicket SET AddDriverID = NULL;"
                     "INSERT INTO HexmileAction (ID, TicketID, ActionDate, EmailDriver,"
                     " AddNotifyEmail, Description, EnteredBy, EnteredDate, EmailSent) VALUES"
                     " (10, 1, '2026-12-02', TRUE, NULL, 'Pads', 'jo', '2026-12-02', 0);");
  harness.Load();
  const PassOutcome outcome = harness->SendActionAlerts();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->number(), 5);
  EXPECT_THAT(outcome.report(), HasSubstr("recipient address"));
  EXPECT_EQ(server.Messages().size(), 0u);
  EXPECT_EQ(harness->Marked("HexmileAction"), std::vector<long long>{});
}

TEST(HostileValues, SenderNamesWithQuotesCommasAndBracketsStayOneDisplayName) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  SmtpServer server;
  const std::vector<std::string> names = {
      "Fleet \"Ops\", <Depot> & Co",
      "O'Brien, Fleet <evil@evil.test>",
      "Fleet Ops <fleet@corvanetours.com>, evil@evil.test",
      "\\Fleet\\ \"quoted\\\"",
      "Flotte Z\xC3\xBCrich \xE2\x80\x93 D\xC3\xA9p\xC3\xB4t",
      "Fleet\xE2\x80\xA8Ops",
      "=?utf-8?q?evil=40evil=2Etest?=",
      std::string(200, 'F') + ", " + std::string(10, 'G'),
      "Fleet;Ops:group;",
  };
  std::size_t sent = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Loaded harness(server,
                   Fleet("Coach 7", "Dana", "Lee") + Ticket(1, "", "Yard", "Low", "jo", "x"));
    harness->db().Exec("UPDATE Company SET EmailFromName = " + SqlBytes(name) + ";");
    harness.Load();
    const PassOutcome outcome = harness->SendTicketAlerts();
    ASSERT_FALSE(outcome.error) << outcome.report();
    const std::vector<ReceivedMessage> messages = server.Messages();
    ASSERT_EQ(messages.size(), ++sent);
    const ReceivedMessage& m = messages.back();
    if (name.size() <= 60) {
      EXPECT_EQ(m.from_name, name);
    } else {
      // Too long to quote, the name travels as several encoded words. Python's address parser
      // keeps the blank between two encoded words that RFC 2047 §6.2 says to drop.
      EXPECT_EQ(WithoutBlanks(m.from_name), WithoutBlanks(name));
    }
    EXPECT_EQ(m.from_address, "fleet@corvanetours.com");
    EXPECT_EQ(m.to, (std::vector<MailboxField>{{"", kMaintenance}}));
    EXPECT_EQ(m.recipients, std::vector<std::string>{kMaintenance});
    EXPECT_EQ(m.defects, std::vector<std::string>{});
  }

  for (const auto& [column, value] :
       {std::pair{"EmailFromName", "Fleet\r\nBcc: evil@evil.test"},
        std::pair{"EmailFromAddress", "fleet@corvanetours.com\r\nBcc: evil@evil.test"},
        std::pair{"MaintenanceEmail", "maintenance@corvanetours.com>, <evil@evil.test"}}) {
    SCOPED_TRACE(column);
    Loaded harness(server,
                   Fleet("Coach 7", "Dana", "Lee") + Ticket(1, "", "Yard", "Low", "jo", "x"));
    harness->db().Exec("UPDATE Company SET " + std::string(column) + " = " + SqlBytes(value) + ";");
    harness.Load();
    const PassOutcome outcome = harness->SendTicketAlerts();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->number(), 5) << outcome.report();
    EXPECT_EQ(harness->Marked("HexmileTicket"), std::vector<long long>{});
  }
  EXPECT_EQ(server.Messages().size(), sent);
}

// ---- The tour-drop pass through the real executable. ----

TEST(HostileValues, TourAndCustomerNamesReachTheAlertIntactThroughTheRun) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  const std::string customer =
      "Hill\r\n.\r\nRCPT TO:<evil@evil.test>\r\nSeniors\xE2\x80\xA8 \xC3\xA9t\xC3\xA9";
  const std::string tour = std::string("Capitol\nDay\rTrip\0!", 19);
  OnOneDay([&](DateTime today) {
    SmtpServer server;
    ProgramFolder program;
    program.CreateSqliteDatabase(CompanyRowSql(server.host_port()) + OneOpenTourSql(today) +
                                 "UPDATE Customer SET Name = " + SqlBytes(customer) + ";" +
                                 "UPDATE Tour SET TourName = " + SqlBytes(tour) + ";");
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
    const ProcessResult result = program.RunProgram();
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::vector<ReceivedMessage> messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].recipients, std::vector<std::string>{"dispatch@corvanetours.com"});
    EXPECT_EQ(messages[0].defects, std::vector<std::string>{});
    EXPECT_THAT(messages[0].body,
                HasSubstr("\r\nCustomer: " + customer + "\r\nTour: " + tour + "\r\nEnd Date: "));
    EXPECT_EQ(CountCommands(server, "RCPT"), 1u);
  });
}

TEST(HostileValues, AnAlertRecipientCarryingAnExtraCommandEndsTheRunBeforeAnyConnection) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  OnOneDay([](DateTime today) {
    SmtpServer server;
    ProgramFolder program;
    program.CreateSqliteDatabase(CompanyRowSql(server.host_port()) + OneOpenTourSql(today));
    // A quoted config item keeps its line break.
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;",
                        "dispatch@corvanetours.com\r\nRCPT TO:<evil@evil.test>", "7");
    const ProcessResult result = program.RunProgram();
    EXPECT_EQ(result.exit_status, exit_status::kMailFailed);
    EXPECT_THAT(result.err, HasSubstr("recipient address"));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(server.Messages().size(), 0u);
    EXPECT_EQ(server.Connections(), 0u);
  });
}

}  // namespace
}  // namespace corvane::testing
