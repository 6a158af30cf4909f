#include "fleet_fixture.h"

#include <algorithm>
#include <utility>

#include "base/process_end.h"
#include "base/text_form.h"
#include "data/company.h"
#include "mail/delivering_component.h"
#include "support/form1_probe.h"

namespace corvane::testing {

void PrintTo(const Delivered& mail, std::ostream* out) {
  auto visible = [](const std::string& text) {
    std::string shown;
    for (const char c : text) {
      if (c == '\r') {
        shown += "\\r";
      } else if (c == '\n') {
        shown += "\\n";
      } else if (c == '\t') {
        shown += "\\t";
      } else {
        shown += c;
      }
    }
    return shown;
  };
  *out << "{to " << mail.to << ", subject \"" << visible(mail.subject) << "\", body \""
       << visible(mail.body) << "\"}";
}

FleetTest::FleetTest() = default;
FleetTest::~FleetTest() = default;

void FleetTest::SetUp() {
  CORVANE_REQUIRE_ENGINE(GetParam());
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  db_.emplace(GetParam());
  server_.emplace();
  Exec(
      "INSERT INTO Company (ID, Name, Address1, Address2, City, State, Zip, Phone, Fax, Email,"
      " Website, KeyPressDelay, TaxRate, MaintenanceEmail, EmailFromAddress, EmailFromName,"
      " EmailServer) VALUES (1, 'Corvane Tours', '1 Depot Way', '', 'Springfield', 'IL',"
      " '62701', '555-0100', '', 'office@corvanetours.com', 'corvanetours.com', 0.5, 0.0825,"
      " 'maintenance@corvanetours.com', 'fleet@corvanetours.com', 'Corvane Fleet', '" +
      server_->host_port() +
      "');"
      "INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 12'), (2, 'Coach 31');"
      "INSERT INTO Driver (ID, Name, Email) VALUES (1, 'Ann Ortiz', 'ann@corvanetours.com'),"
      " (2, 'Bo Lind', 'bo@corvanetours.com');");

  gConn_ = db_->Connect();
  data::LoadCompany(*gConn_, settings_);
  settings_.gTourAlertTo = "tours@corvanetours.com";
  settings_.gTourAlertDays = "7";
  delivering_ = std::make_unique<mail::DeliveringMailComponent>(db_->folder(), mail::MailOptions{});
  mail_ = std::make_unique<SendHookComponent>(*delivering_, nullptr);
  form_ = std::make_unique<window::Form1>(*gConn_, settings_, *mail_, clock_, trace_);
  try {
    form_->Load();  // runs the tour-drop pass (no tours here) and ends the process
    FAIL() << "loading the window did not end the process";
  } catch (const ProcessEnded&) {
  }
  ASSERT_EQ(Log(), "");
}

void FleetTest::Exec(const std::string& sql) {
  db_->Exec(sql);
}

std::string FleetTest::Literal(std::string_view text) const {
  // MariaDB reads || as OR and a backslash in a literal as an escape; its CHAR() makes bytes.
  const bool mariadb = GetParam() == Engine::kMariaDb;
  std::vector<std::string> pieces = {"''"};
  std::string run;
  auto flush = [&] {
    if (run.empty()) return;
    std::string quoted = "'";
    for (const char c : run) {
      if (c == '\'' || (c == '\\' && mariadb)) quoted += c;  // doubled: the character itself
      quoted += c;
    }
    pieces.push_back(quoted + "'");
    run.clear();
  };
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      flush();
      const std::string code = c == '\r' ? "13" : "10";
      pieces.push_back(GetParam() == Engine::kSqlite ? "char(" + code + ")"
                       : mariadb                     ? "CHAR(" + code + " USING utf8mb4)"
                                                     : "chr(" + code + ")");
    } else {
      run += c;
    }
  }
  flush();
  std::string sql;
  for (const std::string& piece : pieces) {
    if (!sql.empty()) sql += mariadb ? ", " : " || ";
    sql += piece;
  }
  return mariadb ? "CONCAT(" + sql + ")" : "(" + sql + ")";
}

void FleetTest::RefuseMarks(const std::string& table, int id) {
  const std::string message = "marks of row " + std::to_string(id) + " are refused";
  const std::string row = std::to_string(id);
  switch (GetParam()) {
    case Engine::kSqlite:
      Exec("CREATE TRIGGER RefuseMarks" + table + " BEFORE UPDATE OF EmailSent ON " + table +
           " WHEN OLD.ID = " + row + " BEGIN SELECT RAISE(ABORT, '" + message + "'); END;");
      break;
    case Engine::kPostgres:
      Exec("CREATE FUNCTION refuse_marks_" + table +
           "() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '" + message +
           "'; END $$; CREATE TRIGGER RefuseMarks" + table + " BEFORE UPDATE ON " + table +
           " FOR EACH ROW WHEN (OLD.ID = " + row + ") EXECUTE FUNCTION refuse_marks_" + table +
           "();");
      break;
    case Engine::kMariaDb:
      Exec("DELIMITER //\nCREATE TRIGGER RefuseMarks" + table + " BEFORE UPDATE ON " + table +
           " FOR EACH ROW BEGIN IF OLD.ID = " + row + " THEN SIGNAL SQLSTATE '45000' SET " +
           "MESSAGE_TEXT = '" + message + "'; END IF; END//\nDELIMITER ;\n");
      break;
  }
}

void FleetTest::AllowMarks(const std::string& table) {
  if (GetParam() == Engine::kPostgres) {
    Exec("DROP TRIGGER RefuseMarks" + table + " ON " + table + ";");
  } else {
    Exec("DROP TRIGGER RefuseMarks" + table + ";");
  }
}

void FleetTest::SendTicketAlerts() {
  window::Form1Probe::SendTicketAlerts(*form_);
}
void FleetTest::SendActionAlerts() {
  window::Form1Probe::SendActionAlerts(*form_);
}

template <typename Pass>
Error FleetTest::ExpectFailure(Pass pass) {
  try {
    pass();
  } catch (const Error& error) {
    return error;
  }
  ADD_FAILURE() << "the pass returned; a failure was expected";
  return Error(ErrorKind::kSystem, 0, "no failure");
}

Error FleetTest::SendTicketAlertsFailing() {
  return ExpectFailure([this] { SendTicketAlerts(); });
}

Error FleetTest::SendActionAlertsFailing() {
  return ExpectFailure([this] { SendActionAlerts(); });
}

void FleetTest::OnEachMessage(std::function<void(const std::string&)> observer) {
  mail_->set_hook([observer = std::move(observer)](int, const std::string& body) {
    observer(body);
  });
}

std::vector<Delivered> FleetTest::NewMail() {
  const std::vector<ReceivedMessage> all = server_->Messages();
  std::vector<Delivered> fresh;
  for (std::size_t i = received_; i < all.size(); ++i) {
    const ReceivedMessage& m = all[i];
    EXPECT_EQ(m.envelope_from, kFromAddress);
    EXPECT_EQ(m.from_address, kFromAddress);
    EXPECT_EQ(m.from_name, kFromName);
    EXPECT_EQ(m.recipients.size(), 1u);
    EXPECT_EQ(m.to.size(), 1u);
    if (!m.to.empty() && !m.recipients.empty()) {
      EXPECT_EQ(m.to[0].address, m.recipients[0]);
    }
    EXPECT_EQ(m.defects, std::vector<std::string>{});
    fresh.push_back({m.recipients.empty() ? std::string() : m.recipients[0], m.subject, m.body});
  }
  received_ = all.size();
  return fresh;
}

std::vector<long long> FleetTest::IdsOf(const std::string& sql) {
  const std::unique_ptr<data::Connection> other = db_->Connect();
  std::vector<long long> ids;
  std::unique_ptr<data::RowSet> rows = other->OpenRowSet(sql);
  for (; !rows->eof(); rows->MoveNext()) {
    ids.push_back(static_cast<long long>(ToNumber(rows->Field("ID"))));
  }
  rows->Close();
  return ids;
}

std::vector<long long> FleetTest::Marked(const std::string& table) {
  return IdsOf("SELECT ID FROM " + table + " WHERE EmailSent <> 0 ORDER BY ID");
}

std::vector<long long> FleetTest::Unsent(const std::string& table) {
  return IdsOf("SELECT ID FROM " + table + " WHERE EmailSent = 0 OR EmailSent IS NULL ORDER BY ID");
}

std::string FleetTest::Log() const {
  return form_->txtResults().text();
}

std::vector<long long> FleetTest::Logged() const {
  std::vector<long long> ids;
  const std::string log = Log();
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find("\r\n", at);
    const std::string line = log.substr(at, end == std::string::npos ? end : end - at);
    const std::size_t colon = line.find(": ");
    EXPECT_TRUE(line.starts_with("HM ") && colon != std::string::npos) << line;
    if (colon != std::string::npos) ids.push_back(std::stoll(line.substr(colon + 2)));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return ids;
}

std::map<long long, std::vector<std::string>> FleetTest::ByRow(const std::vector<Delivered>& mail) {
  std::map<long long, std::vector<std::string>> rows;
  for (const Delivered& m : mail) {
    const std::size_t action = m.body.find("\r\nAction ID: ");
    const std::size_t number = action != std::string::npos         ? action + 13
                               : m.body.starts_with("Ticket ID: ") ? 11
                                                                   : std::string::npos;
    EXPECT_NE(number, std::string::npos) << m.body;
    if (number == std::string::npos) continue;
    rows[std::stoll(m.body.substr(number))].push_back(m.to);
  }
  return rows;
}

std::vector<long long> FleetTest::ExpectStoppedAt(
    const std::string& table, long long failing, const std::vector<std::string>& out,
    const std::map<long long, std::vector<std::string>>& whole) {
  const std::vector<long long> done = Logged();
  std::vector<long long> done_sorted = done;
  std::sort(done_sorted.begin(), done_sorted.end());
  EXPECT_EQ(Marked(table), done_sorted);
  EXPECT_EQ(std::count(done.begin(), done.end(), failing), 0);

  std::map<long long, std::vector<std::string>> expected;
  for (const long long id : done) expected[id] = whole.at(id);
  if (!out.empty()) expected[failing] = out;
  EXPECT_EQ(ByRow(NewMail()), expected);

  std::vector<long long> rest;
  for (const auto& [id, recipients] : whole) {
    if (std::count(done.begin(), done.end(), id) == 0) rest.push_back(id);
  }
  EXPECT_EQ(Unsent(table), rest);
  return done;
}

void FleetTest::ExpectRestSent(const std::string& table, const std::vector<long long>& done,
                               const std::map<long long, std::vector<std::string>>& whole) {
  std::map<long long, std::vector<std::string>> expected = whole;
  for (const long long id : done) expected.erase(id);
  EXPECT_EQ(ByRow(NewMail()), expected);
  std::vector<long long> all;
  for (const auto& [id, recipients] : whole) all.push_back(id);
  EXPECT_EQ(Marked(table), all);
}

}  // namespace corvane::testing
