#include "run/operator_commands.h"

#include <algorithm>
#include <cstdint>

#include "alerts/schema_check.h"
#include "alerts/tour_drops.h"
#include "base/error.h"
#include "base/status_codes.h"
#include "base/text_form.h"
#include "mail/compose/address_check.h"
#include "mail/transport/server_address.h"
#include "run/ledger_commands.h"
#include "run/report.h"

namespace corvane::run {

namespace {

// What one --check item found: a detail for an "ok", or for a "not checked" where nothing could
// tell.
struct Found {
  std::string detail;
  bool checked = true;
};

// The --check items: their lines, and the status of the first failure.
class Checklist {
 public:
  Checklist(const Output& out, RunState& state) : out_(out), state_(state) {}

  // Runs `check` unless an item it needs failed; prints its line. True when it passed.
  template <typename Check>
  bool Item(Own name, bool needs_ok, Check check) {
    if (!needs_ok) {
      Line(name, "skipped", Own("needs the items above"));
      return false;
    }
    // The one place outside the top where an Error is caught: each item is a check of its own,
    // and a failed item is this command's result, reported on its line.
    try {
      const Found found = check();
      Line(name, found.checked ? Own("ok") : Own("not checked"),
           OneLineMasked(found.detail, state_.secrets));
      return true;
    } catch (const Error& error) {
      if (status_ == exit_status::kOk) status_ = ExitStatusFor(error.kind());
      Line(name, "FAILED", Describe(state_, error));
      return false;
    }
  }

  int status() const { return status_; }

 private:
  void Line(Own name, Own result, const GuardedText& detail) {
    GuardedText verdict(result);
    verdict.PadTo(std::max<std::size_t>(result.text().size() + 1, 8));
    (void)out_.Write(GuardedText(name).PadTo(14) + verdict + detail + Own("\n"));
  }

  const Output& out_;
  RunState& state_;
  int status_ = exit_status::kOk;
};

// The envelope's recipients of a list, each mailbox once, as a message to it would have them.
std::vector<std::string> Addresses(const std::string& list, std::string_view what) {
  std::vector<std::string> addresses;
  for (const mail::Mailbox& mailbox : mail::ParseMailboxList(list, what)) {
    const bool listed = std::any_of(addresses.begin(), addresses.end(), [&](const std::string& a) {
      return mail::SameMailbox(a, mailbox.address);
    });
    if (!listed) addresses.push_back(mailbox.address);
  }
  return addresses;
}

}  // namespace

int CheckSetup(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger) {
  Checklist list(surroundings.out, state);
  std::int32_t days = 0;  // stays 0 for the schema check when item 13 is no number
  bool read = false;      // config.txt was read: the database can be tried whatever item 13 says
  list.Item("settings", true, [&] {
    ReadConfigStage(surroundings, state);
    read = true;
    days = ToWholeNumber(Value(state.settings.gTourAlertDays), "TourAlertDays, config.txt item 13");
    std::string detail = SettingsFile(surroundings).string() + ": 13 items, TourAlertDays " +
                         std::to_string(days) + ", alerts to " + state.settings.gTourAlertTo;
    if (!surroundings.runs_as.empty()) detail += "; run as its owner " + surroundings.runs_as;
    return Found{std::move(detail)};
  });
  const bool database = list.Item("database", read, [&] {
    OpenDatabaseStage(surroundings, state, /*read_only=*/true);
    return Found{state.gConn->EngineName() + ": connected"};
  });
  const bool company = list.Item("Company row", database, [&] {
    LoadCompanyStage(state);
    const RunSettings& s = state.settings;
    return Found{s.gCompany.Name + "; mail from " + s.gEmailFromName + " <" + s.gEmailFromAddress +
                 "> through " + s.gEmailServer};
  });
  const bool schema = list.Item("schema", company, [&] {
    state.trace.Stage("schema check");
    return Found{alerts::CheckSchema(*state.gConn, surroundings.clock.Today(), days, fleet)};
  });
  if (fleet) {
    list.Item("marks", schema, [&] {
      state.trace.Stage("privilege check");
      if (std::optional<std::string> found = alerts::CheckMarkPrivileges(*state.gConn)) {
        return Found{std::move(*found)};
      }
      return Found{state.gConn->EngineName() +
                       " does not say here whether this login may update EmailSent of "
                       "HexmileTicket and HexmileAction",
                   false};
    });
  }
  if (ledger) {
    list.Item("ledger", database, [&] {
      const LedgerCheck found = CheckLedger(state);
      return Found{found.detail, found.rights_known};
    });
  }
  list.Item("mail server", company, [&] {
    state.trace.Stage("mail server check");
    const RunSettings& s = state.settings;
    std::vector<mail::Envelope> envelopes;
    envelopes.push_back(
        {std::string(alerts::TourAlertSender), Addresses(s.gTourAlertTo, "TourAlertTo")});
    // The fleet passes' sender and maintenance address; the drivers' and notify addresses come
    // with each row.
    if (fleet) {
      envelopes.push_back(
          {s.gEmailFromAddress, Addresses(s.gMaintenanceEmail, "MaintenanceEmail")});
    }
    return Found{surroundings.mail.CheckServer(s.gEmailServer, envelopes)};
  });
  // A secret too short to tell from ordinary text is masked only where its grammar puts it.
  static_assert(SecretGuard::kShortestFound == 4, "the warning names the length");
  for (const std::string& what : state.secrets.ShortSecrets()) {
    (void)surroundings.report.Write(
        WarningLine(OneLineMasked(what, state.secrets) + Own(" is shorter than 4 characters: "
                                                             "outputs can hide it only where it "
                                                             "is written as one (a PWD= part, "
                                                             "the mail server text), not where "
                                                             "a driver or server quotes it; use "
                                                             "a longer one")),
        Priority::kWarning);
  }
  return list.status();
}

int DryRun(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger) {
  StartUp(surroundings, state, /*read_only=*/true);
  if (ledger) LookAtLedger(surroundings, state);
  surroundings.mail.PreviewInstead(surroundings.out);
  // The run's own window and passes, with the messages shown instead of sent and nothing marked.
  state.form = std::make_unique<window::Form1>(*state.gConn, state.settings, surroundings.mail,
                                               surroundings.clock, state.trace);
  state.form->SetLoadPasses(fleet, /*mark_rows=*/false);
  state.form->KeepLedger(state.ledger.get());
  state.form->Load();  // its load handler ends the process
  return exit_status::kOk;
}

int TestMail(const Surroundings& surroundings, RunState& state, const std::string& address) {
  StartUp(surroundings, state);
  state.trace.Stage("test mail");
  const RunSettings& s = state.settings;
  const std::string server = mail::ShownServerText(s.gEmailServer);
  const mail::PlainArg zero{0LL};
  std::unique_ptr<mail::MailMessage> message = surroundings.mail.Create();
  message->SetSevenBit(true);
  message->SetOpportunisticTls(true);
  message->SetFromAddress(s.gEmailFromAddress);
  message->SetFromName(s.gEmailFromName);
  message->AddRecipient(address, zero, zero);
  message->SetSubject("Corvane Email Handler: test message");
  // The body leaves the process too: it passes the guard like any output.
  message->SetBody(state.secrets
                       .Mask("This is a test message from the Corvane Email Handler on " +
                             HostName() + ", sent " + GeneralDate(surroundings.clock.Now()) +
                             ".\r\nAlerts can reach this address through " + server + ".\r\n")
                       .str());
  // A test gets a shorter limit than an alert: the operator is waiting for the answer.
  message->Send(s.gEmailServer, mail::PlainArg{30LL});
  (void)surroundings.out.Write(
      GuardedText(Own("sent to ")) + OneLineMasked(address, state.secrets) + Own(" through ") +
      OneLineMasked(server, state.secrets) + Own(": ") +
      OneLineMasked(surroundings.mail.last_reply(), state.secrets) + Own("\n"));
  return exit_status::kOk;
}

}  // namespace corvane::run
