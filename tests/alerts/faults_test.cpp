// Mail server faults, end to end. Every fault ends the pass (and so the run) with the mail exit
// status, within a bounded time, with the server's reply in the report; and afterwards exactly
// the fleet rows all of whose messages the server accepted are marked, none other.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fault_rows.h"
#include "mail/delivering_component.h"
#include "base/status_codes.h"
#include "support/local_day.h"
#include "support/loopback_socket.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"

namespace corvane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;
using Step = SmtpStep;
using Action = SmtpMisstep::Action;

struct Fault {
  std::string name;
  ScriptedSmtpOptions server;
  std::string in_report;  // the server's reply (or libcurl's word where there is none)
};

std::vector<Fault> MailFaults() {
  auto at = [](Step step, int from, std::string reply) {
    ScriptedSmtpOptions options;
    options.missteps.push_back({step, Action::kReply, std::move(reply), from});
    return options;
  };
  ScriptedSmtpOptions dropped_after_dot;
  dropped_after_dot.missteps.push_back({Step::kDot, Action::kClose, "", 2});
  ScriptedSmtpOptions split = at(Step::kRcpt, 2, "550 5.1.1 <x>: Recipient address rejected");
  split.packet_size = 1;
  return {
      {"RCPT 5xx", at(Step::kRcpt, 2, "550 5.1.1 <x>: Recipient address rejected"),
       "550 5.1.1 <x>: Recipient address rejected"},
      {"RCPT 4xx", at(Step::kRcpt, 3, "450 4.2.1 Mailbox busy, try later"),
       "450 4.2.1 Mailbox busy, try later"},
      {"DATA 5xx", at(Step::kData, 1, "554 5.7.1 Transaction failed"),
       "554 5.7.1 Transaction failed"},
      {"DATA 4xx", at(Step::kData, 3, "451 4.3.0 Local error in processing"),
       "451 4.3.0 Local error in processing"},
      {"final dot 5xx", at(Step::kDot, 2, "552 5.3.4 Message too big for system"),
       "552 5.3.4 Message too big for system"},
      {"final dot 4xx", at(Step::kDot, 4, "452 4.3.1 Insufficient system storage"),
       "452 4.3.1 Insufficient system storage"},
      {"closed after the final dot", dropped_after_dot, "curl 56"},
      {"MAIL 421", at(Step::kMail, 2, "421 4.3.2 Service shutting down"),
       "421 4.3.2 Service shutting down"},
      {"greeting 554", at(Step::kGreeting, 1, "554 5.3.2 No SMTP service here"),
       "554 5.3.2 No SMTP service here"},
      {"EHLO and HELO 5xx", at(Step::kEhlo, 1, "550 5.7.0 Go away"), "550 5.7.0 Go away"},
      {"multi-line refusal",
       at(Step::kRcpt, 2,
          "550-5.7.1 Relaying denied for this sender.\r\n550-5.7.1 Ask your postmaster\r\n"
          "550 5.7.1 about the relay rules."),
       "550-5.7.1 Relaying denied for this sender. 550-5.7.1 Ask your postmaster 550 5.7.1 "
       "about the relay rules."},
      {"refusal in one-byte packets", split, "550 5.1.1 <x>: Recipient address rejected"},
      {"over-long refusal", at(Step::kRcpt, 2, "550 5.7.1 " + std::string(3000, 'x')),
       "550 5.7.1 xxxxxxxxxx"},
  };
}

mail::MailOptions QuickMailOptions() {
  mail::MailOptions options;
  options.connect_timeout = 2s;  // the run's own 10 s are tested through the executable
  return options;
}

TEST(FleetMailFaults, OnlyRowsWhoseMessagesWereAllAcceptedAreMarked) {
  for (const FleetPass& pass : FleetPasses()) {
    for (const Fault& fault : MailFaults()) {
      SCOPED_TRACE(pass.name + ", " + fault.name);
      ScriptedSmtpServer server(fault.server);
      PassHarness harness(Engine::kSqlite);
      harness.db().Exec(std::string(kFaultRows));
      harness.WriteCompany(server.host_port());
      mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
      harness.LoadWindow(mail);

      const PassOutcome outcome = (harness.*pass.run)();
      ASSERT_TRUE(outcome.error) << "the pass must fail";
      EXPECT_EQ(outcome.exit_status(), exit_status::kMailFailed) << outcome.report();
      EXPECT_THAT(outcome.report(), HasSubstr(fault.in_report));
      EXPECT_THAT(outcome.report(), HasSubstr(server.host_port()));
      EXPECT_LT(outcome.report().size(), 1500u);
      EXPECT_LT(outcome.took, kHangLimit);

      const std::vector<SmtpTransaction> accepted = server.Accepted();
      const std::vector<long long> marked = harness.Marked(pass.table);
      EXPECT_EQ(marked, pass.WhollyAccepted(accepted));
      EXPECT_LT(marked.size(), pass.messages.size());
      // One log line per marked row, written after its mark.
      EXPECT_EQ(
          static_cast<std::size_t>(std::count(harness.log().begin(), harness.log().end(), '\n')),
          marked.size());
    }
  }
}

TEST(FleetMailFaults, ARowCutOffAfterItsDataWentOutIsSentAgainNextTime) {
  // The server takes the data of message 2, then drops the connection without its reply: it
  // may have queued it, but the pass cannot know, so the row stays unmarked and is sent again.
  PassHarness harness(Engine::kSqlite);
  harness.db().Exec(std::string(kFaultRows));
  std::vector<SmtpTransaction> first_accepted;
  {
    ScriptedSmtpOptions options;
    options.missteps.push_back({Step::kDot, Action::kClose, "", 2});
    ScriptedSmtpServer dropping(options);
    harness.WriteCompany(dropping.host_port());
    mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
    harness.LoadWindow(mail);
    ASSERT_TRUE(harness.SendTicketAlerts().error);
    first_accepted = dropping.Accepted();
    EXPECT_EQ(dropping.Commands().back(), ".");
  }
  ASSERT_EQ(first_accepted.size(), 1u);
  const std::vector<long long> marked_first = harness.Marked("HexmileTicket");
  ASSERT_EQ(marked_first.size(), 1u);

  ScriptedSmtpServer healthy;
  harness.WriteCompany(healthy.host_port());
  mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
  harness.LoadWindow(mail);
  const PassOutcome second = harness.SendTicketAlerts();
  EXPECT_FALSE(second.error) << second.report();
  EXPECT_EQ(harness.Marked("HexmileTicket"), (std::vector<long long>{1, 2, 3}));
  // Everything not delivered before, and nothing that was: 4 messages in all, less the one.
  EXPECT_EQ(healthy.Accepted().size(), 3u);
}

TEST(FleetMailFaults, RepliesInPiecesOrOnSeveralLinesStillDeliverEverything) {
  ScriptedSmtpOptions one_byte_packets;
  one_byte_packets.packet_size = 1;
  ScriptedSmtpOptions multi_line_acceptance;
  multi_line_acceptance.missteps.push_back(
      {Step::kDot, Action::kReply, "250-2.0.0 Ok\r\n250-2.0.0 queued on disk\r\n250 2.0.0 as A1B2",
       1});
  multi_line_acceptance.missteps.push_back(
      {Step::kRcpt, Action::kReply, "250-2.1.5 Ok\r\n250 2.1.5 recipient fine", 1});
  for (const ScriptedSmtpOptions& options : {one_byte_packets, multi_line_acceptance}) {
    ScriptedSmtpServer server(options);
    PassHarness harness(Engine::kSqlite);
    harness.db().Exec(std::string(kFaultRows));
    harness.WriteCompany(server.host_port());
    mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
    harness.LoadWindow(mail);
    for (const FleetPass& pass : FleetPasses()) {
      const PassOutcome outcome = (harness.*pass.run)();
      EXPECT_FALSE(outcome.error) << outcome.report();
      EXPECT_EQ(harness.Marked(pass.table).size(), pass.messages.size());
    }
    EXPECT_EQ(server.Accepted().size(), 9u);
    EXPECT_EQ(server.Connections(), 1u);  // one session for both passes
  }
}

TEST(FleetMailFaults, AListenerThatNeverGreetsIsGivenUpAfterTheConnectTime) {
  ScriptedSmtpOptions options;
  options.missteps.push_back({Step::kGreeting, Action::kSilence, "", 1});
  ScriptedSmtpServer server(options);
  PassHarness harness(Engine::kSqlite);
  harness.db().Exec(std::string(kFaultRows));
  harness.WriteCompany(server.host_port());
  mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
  harness.LoadWindow(mail);
  const PassOutcome outcome = harness.SendTicketAlerts();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->number(), CURLE_OPERATION_TIMEDOUT) << outcome.report();
  EXPECT_LT(outcome.took, kHangLimit);
  // It connected, heard nothing and gave up: no command was ever sent.
  EXPECT_EQ(server.Connections(), 1u);
  EXPECT_EQ(server.Commands(), std::vector<std::string>{});
  EXPECT_EQ(harness.Marked("HexmileTicket"), std::vector<long long>{});
}

TEST(FleetMailFaults, TlsThatIsRequiredButRefusedOrMissingSendsNothing) {
  ScriptedSmtpOptions refused;
  refused.offer_starttls = true;  // and answers STARTTLS with 454
  ScriptedSmtpOptions missing;    // does not offer STARTTLS at all
  for (const auto& [name, options, in_report] :
       {std::tuple{"offered then refused", refused, std::string("454 4.7.0 TLS not available")},
        std::tuple{"not offered", missing, std::string("STARTTLS")}}) {
    SCOPED_TRACE(name);
    ScriptedSmtpServer server(options);
    PassHarness harness(Engine::kSqlite);
    harness.db().Exec(std::string(kFaultRows));
    // Credentials make STARTTLS a must: a password never travels in clear.
    harness.WriteCompany("smtp://alerts:s3cret-pw@" + server.host_port());
    mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
    harness.LoadWindow(mail);
    const PassOutcome outcome = harness.SendTicketAlerts();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.exit_status(), exit_status::kMailFailed);
    EXPECT_EQ(outcome.error->number(), CURLE_USE_SSL_FAILED) << outcome.report();
    EXPECT_THAT(outcome.report(), HasSubstr(in_report));
    EXPECT_THAT(outcome.report(), Not(HasSubstr("s3cret-pw")));
    for (const std::string& command : server.Commands()) {
      EXPECT_THAT(command, Not(HasSubstr("AUTH")));
      EXPECT_THAT(command, Not(HasSubstr("MAIL")));
    }
    EXPECT_EQ(harness.Marked("HexmileTicket"), std::vector<long long>{});
  }
}

TEST(FleetMailFaults, ARelayThatRefusesStartTlsGetsThePlainSessionItDocuments) {
  // The host[:port] form is opportunistic (docs/mail-servers.md): a refused STARTTLS is no
  // worse than one not offered, and the alerts go out.
  ScriptedSmtpOptions options;
  options.offer_starttls = true;
  ScriptedSmtpServer server(options);
  PassHarness harness(Engine::kSqlite);
  harness.db().Exec(std::string(kFaultRows));
  harness.WriteCompany(server.host_port());
  mail::DeliveringMailComponent mail(harness.db().folder(), QuickMailOptions());
  harness.LoadWindow(mail);
  const PassOutcome outcome = harness.SendTicketAlerts();
  EXPECT_FALSE(outcome.error) << outcome.report();
  EXPECT_EQ(harness.Marked("HexmileTicket"), (std::vector<long long>{1, 2, 3}));
}

// ---- The whole run, through the real executable: the tour-drop pass meets the fault. ----

// Runs the program on a database dated `today` whose mail server is `email_server`. The run's
// own limit (60 s) is the bound against a hang.
ProcessResult RunAgainst(const std::string& email_server, DateTime today) {
  ProgramFolder program;
  program.CreateSqliteDatabase(CompanyRowSql(email_server) + OneOpenTourSql(today));
  program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
  return program.RunProgram("/", 60s);
}

void ExpectMailFailureReport(const ProcessResult& run, const std::string& server,
                             const std::string& in_report) {
  EXPECT_EQ(run.exit_status, exit_status::kMailFailed) << run.err;
  EXPECT_THAT(run.err, HasSubstr("corvane-email-handler: mail error (curl "));
  EXPECT_THAT(run.err, HasSubstr(in_report));
  EXPECT_THAT(run.err, HasSubstr(server));
  EXPECT_THAT(run.err, HasSubstr("[in CheckTourDrops, row TourID 1]"));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one report line: " << run.err;
}

TEST(RunMailFaults, EachEndsTheRunWithTheMailStatusAndTheServersReply) {
  CORVANE_REQUIRE_SERVICE(SmtpSinkAvailable());
  const std::vector<std::pair<std::vector<std::string>, std::string>> faults = {
      {{"-f", "RCPT"}, "500 5.3.0 Error: command failed"},
      {{"-r", "RCPT"}, "450 4.3.0 Error: command failed"},
      {{"-f", "DATA"}, "500 5.3.0 Error: command failed"},
      {{"-r", "DATA"}, "450 4.3.0 Error: command failed"},
      {{"-f", "."}, "500 5.3.0 Error: command failed"},
      {{"-r", "."}, "450 4.3.0 Error: command failed"},
      {{"-q", "."}, "(curl 56)"},
      {{"-Q", "MAIL"}, "421 4.0.0 Server closing connection"},
  };
  for (const auto& fault : faults) {
    // Plain references, not a structured binding: clang 14 cannot capture one in a lambda.
    const std::vector<std::string>& options = fault.first;
    const std::string& in_report = fault.second;
    SCOPED_TRACE(options[0] + " " + options[1]);
    OnOneDay([&](DateTime today) {
      SmtpSink sink(options);
      ExpectMailFailureReport(RunAgainst(sink.host_port(), today), sink.host_port(), in_report);
    });
  }
}

TEST(RunMailFaults, NoListenerAtAllFailsAtOnce) {
  OnOneDay([](DateTime today) {
    const LoopbackSocket refusing(LoopbackSocket::Mode::kRefusing);
    ExpectMailFailureReport(RunAgainst(refusing.host_port(), today), refusing.host_port(),
                            "(curl 7)");
  });
}

TEST(RunMailFaults, AListenerThatNeverGreetsEndsTheRunWithATimeOut) {
  OnOneDay([](DateTime today) {
    ScriptedSmtpOptions options;
    options.missteps.push_back({Step::kGreeting, Action::kSilence, "", 1});
    ScriptedSmtpServer server(options);
    ExpectMailFailureReport(RunAgainst(server.host_port(), today), server.host_port(), "(curl 28)");
    EXPECT_EQ(server.Commands(), std::vector<std::string>{});
  });
}

}  // namespace
}  // namespace corvane::testing
