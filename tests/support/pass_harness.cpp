#include "support/pass_harness.h"

#include <gtest/gtest.h>

#include "base/process_end.h"
#include "base/text_form.h"
#include "data/company.h"
#include "data/database.h"
#include "base/status_codes.h"
#include "support/form1_probe.h"

namespace corvane::testing {

int PassOutcome::exit_status() const {
  return error ? ExitStatusFor(error->kind()) : exit_status::kOk;
}

std::string PassOutcome::report() const {
  return error ? error->what() : std::string();
}

std::string CompanyRowSql(std::string_view email_server, std::string_view from_name,
                          std::string_view from_address, std::string_view maintenance) {
  auto quoted = [](std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
      out += c;
      if (c == '\'') out += '\'';
    }
    return out + "'";
  };
  return "INSERT INTO Company VALUES (1,'Corvane Tours','1 Depot Rd','','Austin','TX','78701',"
         "'512-555-0100','','office@corvanetours.com','www.corvanetours.com',0.25,0.0825," +
         quoted(maintenance) + "," + quoted(from_address) + "," + quoted(from_name) + "," +
         quoted(email_server) + ");";
}

void PassHarness::WriteCompany(std::string_view email_server, std::string_view from_name,
                               std::string_view from_address, std::string_view maintenance) {
  db_.Exec("DELETE FROM Company;" +
           CompanyRowSql(email_server, from_name, from_address, maintenance));
}

void PassHarness::LoadWindow(mail::MailComponent& mail, std::string_view extra_connect) {
  settings_.gConnectString = db_.SettingsConnectString() + std::string(extra_connect);
  // Moved in whole: GCC 12 at -O3 warns falsely (-Wrestrict) on assigning a literal in place.
  settings_.gTourAlertTo = std::string("dispatch@corvanetours.com");
  settings_.gTourAlertDays = std::string("7");
  gConn_ = data::OpenDatabase(settings_, db_.folder());
  data::LoadCompany(*gConn_, settings_);
  ASSERT_TRUE(settings_.company_loaded);
  form_ = std::make_unique<window::Form1>(*gConn_, settings_, mail, clock_, trace_);
  try {
    form_->Load();
    ADD_FAILURE() << "loading the window must end the process";
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.status(), 0);
  }
}

PassOutcome PassHarness::RunPass(void (*pass)(window::Form1&)) {
  PassOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  try {
    pass(*form_);
  } catch (const Error& error) {
    outcome.error = error;
  }
  outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  return outcome;
}

PassOutcome PassHarness::SendTicketAlerts() {
  return RunPass([](window::Form1& form) { window::Form1Probe::SendTicketAlerts(form); });
}

PassOutcome PassHarness::SendActionAlerts() {
  return RunPass([](window::Form1& form) { window::Form1Probe::SendActionAlerts(form); });
}

std::vector<long long> PassHarness::Marked(std::string_view table) const {
  std::unique_ptr<data::Connection> conn = db_.Connect();
  std::unique_ptr<data::RowSet> rows =
      conn->OpenRowSet("SELECT ID, EmailSent FROM " + std::string(table) + " ORDER BY ID");
  std::vector<long long> marked;
  for (; !rows->eof(); rows->MoveNext()) {
    if (EqualsTrue(rows->Field("EmailSent"))) {
      marked.push_back(static_cast<long long>(ToNumber(rows->Field("ID"))));
    }
  }
  return marked;
}

}  // namespace corvane::testing
