// The fleet passes against a real database (SQLite, PostgreSQL, MariaDB) and a real SMTP server: the
// window loaded on the test database, the Company row read by LoadCompany, the real mail
// component in between, and helpers to read back what arrived and what was marked.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/connection.h"
#include "mail/delivering_component.h"
#include "support/send_hook_mail.h"
#include "support/smtp_server.h"
#include "support/test_database.h"
#include "window/form1.h"

namespace corvane::testing {

// One message as it arrived: its one recipient, decoded subject and body.
struct Delivered {
  std::string to;
  std::string subject;
  std::string body;
  bool operator==(const Delivered&) const = default;
};
void PrintTo(const Delivered& mail, std::ostream* out);

class FleetTest : public ::testing::TestWithParam<Engine> {
 protected:
  static constexpr const char* kFromAddress = "fleet@corvanetours.com";
  static constexpr const char* kFromName = "Corvane Fleet";
  static constexpr const char* kMaintenance = "maintenance@corvanetours.com";

  FleetTest();
  ~FleetTest() override;
  void SetUp() override;

  // Runs SQL on the test database beside the window's connection.
  void Exec(const std::string& sql);
  // An SQL expression for `text`, CR and LF written with the engine's char function.
  std::string Literal(std::string_view text) const;
  // Makes the database refuse to mark row `id` of `table` (a trigger), and allows it again.
  void RefuseMarks(const std::string& table, int id);
  void AllowMarks(const std::string& table);

  void SendTicketAlerts();
  void SendActionAlerts();
  // Runs the pass and returns the Error that ended it (a test failure if it returned).
  Error SendTicketAlertsFailing();
  Error SendActionAlertsFailing();
  // Calls `observer(body)` right after each message was handed to the server, before the pass
  // goes on: what another client does between two messages.
  void OnEachMessage(std::function<void(const std::string& body)> observer);

  // Messages that arrived since the last call, in order; checks the envelope and headers.
  std::vector<Delivered> NewMail();
  // The ID column of `sql`'s rows, read on a connection of its own.
  std::vector<long long> IdsOf(const std::string& sql);
  std::vector<long long> Marked(const std::string& table);
  std::vector<long long> Unsent(const std::string& table);
  // The window's log (txtResults); the ticket or action number of each of its lines, in order.
  std::string Log() const;
  std::vector<long long> Logged() const;

  // The recipients of `mail` in order, by the row each message was about: the action of an
  // action alert ("Action ID: " line), else the ticket (first line, "Ticket ID: ").
  static std::map<long long, std::vector<std::string>> ByRow(const std::vector<Delivered>& mail);

  // After a pass that ended in a failure at row `failing` of `table`: the rows logged before it
  // are exactly the marked ones and got all their messages, the failing row got only `out`, and
  // the other rows of `whole` got nothing and stay unsent. `whole`: every row that still exists,
  // with all its recipients. Returns the rows done before the failure.
  std::vector<long long> ExpectStoppedAt(
      const std::string& table, long long failing, const std::vector<std::string>& out,
      const std::map<long long, std::vector<std::string>>& whole);
  // After the next pass ran through: every row of `whole` not in `done` got all its messages
  // (again), and every row is marked.
  void ExpectRestSent(const std::string& table, const std::vector<long long>& done,
                      const std::map<long long, std::vector<std::string>>& whole);

  RunSettings settings_;

 private:
  template <typename Pass>
  Error ExpectFailure(Pass pass);

  std::optional<TestDatabase> db_;
  std::optional<SmtpServer> server_;
  FixedClock clock_{DateTime::FromParts(2026, 12, 9, 16, 45, 7)};
  RunTrace trace_;
  std::unique_ptr<data::Connection> gConn_;
  std::unique_ptr<mail::DeliveringMailComponent> delivering_;
  std::unique_ptr<SendHookComponent> mail_;
  std::unique_ptr<window::Form1> form_;
  std::size_t received_ = 0;
};

}  // namespace corvane::testing
