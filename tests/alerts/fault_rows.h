// Fleet rows for the fault and hostile-value tests, for SQLite and PostgreSQL alike, and how
// many messages each row sends, so a test can tell which rows were wholly delivered.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/pass_harness.h"
#include "support/scripted_smtp_server.h"

namespace corvane::testing {

// Tickets 1 (one message), 2 (two: it names a further address) and 3 (one); actions 10 (three:
// both drivers and a further address), 11 (one: the further address only) and 12 (one: ticket
// 2 has no additional driver).
inline constexpr std::string_view kFaultRows =
    "INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 7');"
    "INSERT INTO Driver (ID, Name, Email) VALUES (1, 'Dana Diaz', 'dana@corvanetours.com'),"
    " (2, 'Lee Park', 'lee@corvanetours.com');"
    "INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles, Location,"
    " Priority, Status, AddNotifyEmail, EnteredBy, EnteredDate, Description, EmailSent) VALUES"
    " (1, 1, 1, 2, '2026-12-01', 120500, 'Austin yard', 'High', 'Open', NULL, 'jo',"
    "  '2026-12-01 08:00:00', 'Brakes squeal', 0),"
    " (2, 1, 1, NULL, '2026-12-02', 120730, 'I-35 exit 250', 'Low', 'Open',"
    "  'shop@corvanetours.com', 'jo', '2026-12-02 10:30:00', 'Wiper streaks', 0),"
    " (3, 1, 2, NULL, '2026-12-03', 121010, 'Waco', 'Medium', 'Open', '', 'kim',"
    "  '2026-12-03 16:45:00', 'AC weak', 0);"
    "INSERT INTO HexmileAction (ID, TicketID, ActionDate, EmailDriver, AddNotifyEmail,"
    " Description, EnteredBy, EnteredDate, EmailSent) VALUES"
    " (10, 1, '2026-12-02', TRUE, 'shop@corvanetours.com', 'Pads ordered', 'jo',"
    "  '2026-12-02 09:00:00', 0),"
    " (11, 1, '2026-12-03', FALSE, 'shop@corvanetours.com', 'Pads fitted', 'jo',"
    "  '2026-12-03 09:00:00', 0),"
    " (12, 2, '2026-12-03', TRUE, NULL, 'Wipers swapped', 'kim', '2026-12-03 11:00:00', 0);";

// One fleet pass over kFaultRows and what its rows send.
struct FleetPass {
  std::string name;
  std::string table;                  // the table whose EmailSent the pass writes
  std::string id_label;               // the body line that names the row: "Ticket ID: "
  std::map<long long, int> messages;  // messages per row
  PassOutcome (PassHarness::*run)();

  int total_messages() const {
    int total = 0;
    for (const auto& [row, count] : messages) total += count;
    return total;
  }
  // The row a message is about, from its body; -1 if it names none.
  long long RowOf(const SmtpTransaction& message) const {
    const std::size_t at = message.data.find(id_label);
    return at == std::string::npos ? -1 : std::stoll(message.data.substr(at + id_label.size()));
  }
  // The rows every one of whose messages the server accepted, ascending.
  std::vector<long long> WhollyAccepted(const std::vector<SmtpTransaction>& accepted) const {
    std::map<long long, int> seen;
    for (const SmtpTransaction& t : accepted) seen[RowOf(t)]++;
    std::vector<long long> rows;
    for (const auto& [row, count] : messages) {
      if (seen[row] == count) rows.push_back(row);
    }
    return rows;
  }
};

inline std::vector<FleetPass> FleetPasses() {
  return {{"tickets",
           "HexmileTicket",
           "Ticket ID: ",
           {{1, 1}, {2, 2}, {3, 1}},
           &PassHarness::SendTicketAlerts},
          {"actions",
           "HexmileAction",
           "Action ID: ",
           {{10, 3}, {11, 1}, {12, 1}},
           &PassHarness::SendActionAlerts}};
}

}  // namespace corvane::testing
