#include "run/operator_commands.h"

#include <unistd.h>

#include <cstdint>
#include <ostream>

#include "alerts/schema_check.h"
#include "alerts/tour_drops.h"
#include "base/error.h"
#include "base/text_form.h"
#include "mail/compose/address_check.h"
#include "base/status_codes.h"
#include "run/report.h"

namespace corvane::run {

namespace {

// One --check item: its line, and the status of the first failure.
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
      Line(name, "ok", check());
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
    verdict.resize(8, ' ');
    out_ << padded << verdict << OneLine(MaskSecrets(detail, state_.secrets)) << '\n';
    out_.flush();
  }

  std::ostream& out_;
  RunState& state_;
  int status_ = exit_status::kOk;
};

std::vector<std::string> Addresses(const std::string& list, std::string_view what) {
  std::vector<std::string> addresses;
  for (const mail::Mailbox& mailbox : mail::ParseMailboxList(list, what)) {
    addresses.push_back(mailbox.address);
  }
  return addresses;
}

}  // namespace

int CheckSetup(const Surroundings& surroundings, mail::DeliveringMailComponent& mail) {
  RunState state;
  return AtTheTop(surroundings, state, [&] {
    Checklist list(surroundings.out, state);
    std::int32_t days = 0;  // stays 0 for the schema check when item 13 is no number
    bool read = false;      // config.txt was read: the database can be tried whatever item 13 says
    list.Item("settings", true, [&] {
      ReadConfigStage(surroundings, state);
      read = true;
      days =
          ToWholeNumber(Value(state.settings.gTourAlertDays), "gTourAlertDays, config.txt item 13");
      return (surroundings.program_folder / "config.txt").string() + ": 13 items, TourAlertDays " +
             std::to_string(days) + ", alerts to " + state.settings.gTourAlertTo;
    });
    const bool database = list.Item("database", read, [&] {
      OpenDatabaseStage(surroundings, state);
      return state.gConn->EngineName() + ": connected";
    });
    const bool company = list.Item("Company row", database, [&] {
      LoadCompanyStage(state);
      return state.settings.gCompany.Name + "; mail from " + state.settings.gEmailFromName + " <" +
             state.settings.gEmailFromAddress + "> through " + state.settings.gEmailServer;
    });
    list.Item("schema", company, [&] {
      state.trace.Stage("schema check");
      return alerts::CheckSchema(*state.gConn, surroundings.clock.Today(), days);
    });
    list.Item("mail server", company, [&] {
      state.trace.Stage("mail server check");
      std::vector<mail::Envelope> envelopes;
      envelopes.push_back({std::string(alerts::TourAlertSender),
                           Addresses(state.settings.gTourAlertTo, "TourAlertTo")});
      // The fleet passes' sender and maintenance address, where they are filled in: the run
      // itself sends only tour-drop alerts.
      if (!state.settings.gEmailFromAddress.empty() && !state.settings.gMaintenanceEmail.empty()) {
        envelopes.push_back({state.settings.gEmailFromAddress,
                             Addresses(state.settings.gMaintenanceEmail, "MaintenanceEmail")});
      }
      return mail.CheckServer(state.settings.gEmailServer, envelopes);
    });
    return list.status();
  });
}

int DryRun(const Surroundings& surroundings, mail::DeliveringMailComponent& mail) {
  RunState state;
  return AtTheTop(surroundings, state, [&] {
    StartUp(surroundings, state);
    mail.PreviewInstead(surroundings.out);
    // The run's own window and pass, with the messages shown instead of sent.
    state.form = std::make_unique<window::Form1>(*state.gConn, state.settings, mail,
                                                 surroundings.clock, state.trace);
    state.form->Load();  // its load handler ends the process
    return exit_status::kOk;
  });
}

int TestMail(const Surroundings& surroundings, mail::DeliveringMailComponent& mail,
             const std::string& address) {
  RunState state;
  return AtTheTop(surroundings, state, [&] {
    StartUp(surroundings, state);
    state.trace.Stage("test mail");
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    const RunSettings& s = state.settings;
    const std::string server = MaskSecrets(s.gEmailServer, state.secrets);
    const mail::PlainArg zero{0LL};
    std::unique_ptr<mail::MailMessage> message = mail.Create();
    message->SetSevenBit(true);
    message->SetOpportunisticTls(true);
    message->SetFromAddress(s.gEmailFromAddress);
    message->SetFromName(s.gEmailFromName);
    message->AddRecipient(address, zero, zero);
    message->SetSubject("Corvane Email Handler: test message");
    message->SetBody("This is a test message from the Corvane Email Handler on " +
                     std::string(host) + ", sent " + GeneralDate(surroundings.clock.Now()) +
                     ".\r\nAlerts can reach this address through " + server + ".\r\n");
    // A test gets a shorter limit than an alert: the operator is waiting for the answer.
    message->Send(s.gEmailServer, mail::PlainArg{30LL});
    surroundings.out << OneLine(MaskSecrets(
                            "sent to " + address + " through " + server + ": " + mail.last_reply(),
                            state.secrets))
                     << '\n';
    surroundings.out.flush();
    return exit_status::kOk;
  });
}

}  // namespace corvane::run
