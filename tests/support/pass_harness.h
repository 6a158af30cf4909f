// The alert window's fleet passes run in this process the way a program that loads the window
// runs them: gConn opened by OpenDatabase on a real database, the Company row read by
// LoadCompany, a real mail component (or one the test wraps), and Form1 loaded. A pass's outcome
// is what the top of a run would see: nothing, or the Error that ended it.
//
// Compiled into the test binaries that use it (it needs the window floor, which the shared test
// support library does not link).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/connection.h"
#include "mail/mail_message.h"
#include "support/send_hook_mail.h"
#include "support/test_database.h"
#include "window/form1.h"

namespace corvane::testing {

// A bound against a hang, far above any pass's time even on a loaded machine: how fast a pass
// is belongs to the benchmarks.
inline constexpr std::chrono::seconds kHangLimit{60};

struct PassOutcome {
  std::optional<Error> error;         // empty: the pass ran to its end
  std::chrono::milliseconds took{0};  // for a bound against a hang (kHangLimit) only
  // The process's exit status had the run ended here (0 without an error).
  int exit_status() const;
  // The error's "number: description", or "" without one.
  std::string report() const;
};

// An INSERT of the one Company row, with these mail settings and the usual rest.
std::string CompanyRowSql(std::string_view email_server,
                          std::string_view from_name = "Corvane Fleet",
                          std::string_view from_address = "fleet@corvanetours.com",
                          std::string_view maintenance = "maintenance@corvanetours.com");

class PassHarness {
 public:
  explicit PassHarness(Engine engine) : db_(engine) {}

  TestDatabase& db() { return db_; }

  // Replaces the Company row by CompanyRowSql(...).
  void WriteCompany(std::string_view email_server, std::string_view from_name = "Corvane Fleet",
                    std::string_view from_address = "fleet@corvanetours.com",
                    std::string_view maintenance = "maintenance@corvanetours.com");

  // OpenDatabase with the test database's connection string followed by `extra_connect`,
  // LoadCompany, then loading the window (its load handler's tour-drop pass finds nothing
  // unless the test inserted tours). `mail` must outlive the harness's use of the window.
  void LoadWindow(mail::MailComponent& mail, std::string_view extra_connect = "");

  PassOutcome SendTicketAlerts();
  PassOutcome SendActionAlerts();

  // IDs of `table`'s rows whose EmailSent is set, ascending, read on a fresh connection.
  std::vector<long long> Marked(std::string_view table) const;
  const std::string& log() const { return form_->txtResults().text(); }

 private:
  PassOutcome RunPass(void (*pass)(window::Form1&));

  TestDatabase db_;
  RunSettings settings_;
  SystemClock clock_;
  RunTrace trace_;
  std::unique_ptr<data::Connection> gConn_;
  std::unique_ptr<window::Form1> form_;
};

}  // namespace corvane::testing
