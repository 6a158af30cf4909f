#include "run/operator_commands.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

#include "alerts/schema_check.h"
#include "alerts/tour_drops.h"
#include "base/error.h"
#include "base/status_codes.h"
#include "base/text_form.h"
#include "mail/compose/address_check.h"
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
  Checklist(std::ostream& out, RunState& state) : out_(out), state_(state) {}

  // Runs `check` unless an item it needs failed; prints its line. True when it passed.
  template <typename Check>
  bool Item(std::string_view name, bool needs_ok, Check check) {
    if (!needs_ok) {
      Line(name, "skipped", "needs the items above");
      return false;
    }
    // The one place outside the top where an Error is caught: each item is a check of its own,
    // and a failed item is this command's result, reported on its line.
    try {
      const Found found = check();
      Line(name, found.checked ? "ok" : "not checked", found.detail);
      return true;
    } catch (const Error& error) {
      if (status_ == exit_status::kOk) status_ = ExitStatusFor(error.kind());
      Line(name, "FAILED", Describe(state_, error.number(), error.description()));
      return false;
    }
  }

  int status() const { return status_; }

 private:
  void Line(std::string_view name, std::string_view result, const std::string& detail) {
    std::string padded(name);
    padded.resize(std::max<std::size_t>(padded.size(), 14), ' ');
    std::string verdict(result);
    verdict.resize(std::max<std::size_t>(verdict.size() + 1, 8), ' ');
    out_ << padded << verdict << OneLine(MaskSecrets(detail, state_.secrets)) << '\n';
    out_.flush();
  }

  std::ostream& out_;
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
    return Found{(surroundings.program_folder / "config.txt").string() +
                 ": 13 items, TourAlertDays " + std::to_string(days) + ", alerts to " +
                 state.settings.gTourAlertTo};
  });
  const bool database = list.Item("database", read, [&] {
    OpenDatabaseStage(surroundings, state, /*read_only=*/true);
    return Found{state.gConn->EngineName() + ": connected"};
  });
  const bool company = list.Item("Company row", database, [&] {
    LoadCompanyStage(state);
    const RunSettings& s = state.settings;
    return Found{s.gCompany.Name + "; mail from " + s.gEmailFromName + " <" +
                 s.gEmailFromAddress + "> through " + s.gEmailServer};
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
  const std::string server = MaskSecrets(s.gEmailServer, state.secrets);
  const mail::PlainArg zero{0LL};
  std::unique_ptr<mail::MailMessage> message = surroundings.mail.Create();
  message->SetSevenBit(true);
  message->SetOpportunisticTls(true);
  message->SetFromAddress(s.gEmailFromAddress);
  message->SetFromName(s.gEmailFromName);
  message->AddRecipient(address, zero, zero);
  message->SetSubject("Corvane Email Handler: test message");
  message->SetBody("This is a test message from the Corvane Email Handler on " + HostName() +
                   ", sent " + GeneralDate(surroundings.clock.Now()) +
                   ".\r\nAlerts can reach this address through " + server + ".\r\n");
  // A test gets a shorter limit than an alert: the operator is waiting for the answer.
  message->Send(s.gEmailServer, mail::PlainArg{30LL});
  surroundings.out << OneLine(MaskSecrets("sent to " + address + " through " + server + ": " +
                                              surroundings.mail.last_reply(),
                                          state.secrets))
                   << '\n';
  surroundings.out.flush();
  return exit_status::kOk;
}

}  // namespace corvane::run
