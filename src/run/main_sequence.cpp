#include "run/main_sequence.h"

#include <unistd.h>

#include <atomic>
#include <new>
#include <optional>

#include "base/error.h"
#include "base/process_end.h"
#include "data/company.h"
#include "data/connection_string.h"
#include "data/database.h"
#include "mail/transport/server_address.h"
#include "run/ledger_commands.h"
#include "run/monitoring.h"
#include "run/operator_commands.h"
#include "run/report.h"
#include "run/settings_file.h"
#include "run/settings_owner.h"

namespace corvane::run {

namespace {

// Each request to a cron monitor; two of them (start and end) cost a run at most twice this.
constexpr std::chrono::seconds kHeartbeatLimit{5};

}  // namespace

std::filesystem::path SettingsFile(const Surroundings& surroundings) {
  return surroundings.settings_file.empty() ? surroundings.program_folder / "config.txt"
                                            : surroundings.settings_file;
}

void ReadConfigStage(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ReadConfig");
  ReadConfig(surroundings.program_folder, surroundings.executable, state.settings,
             surroundings.settings_file);
  state.secrets.AddSecret(data::DatabasePassword(state.settings.gConnectString),
                          "the database password");
}

void OpenDatabaseStage(const Surroundings& surroundings, RunState& state, bool read_only) {
  state.trace.Stage("OpenDatabase");
  if (state.watchdog != nullptr) {
    state.watchdog->SetRunLimit(data::ReadProgramParts(state.settings.gConnectString).run_timeout);
  }
  state.gConn =
      data::OpenDatabase(state.settings, surroundings.program_folder, state.watch(), read_only);
}

void LoadCompanyStage(RunState& state) {
  state.trace.Stage("LoadCompany");
  data::LoadCompany(*state.gConn, state.settings);
  mail::GuardSecrets(state.settings.gEmailServer, state.secrets);
  if (!state.settings.company_loaded) {
    // Without the Company row there is no mail server and no sender to work with.
    throw Error(ErrorKind::kSettings, errnum::kRowCannotBeLocated,
                "The Company table has no row: the company and mail settings (EmailServer, "
                "EmailFromAddress, EmailFromName, MaintenanceEmail, ...) are missing");
  }
}

void StartUp(const Surroundings& surroundings, RunState& state, bool read_only) {
  ReadConfigStage(surroundings, state);
  OpenDatabaseStage(surroundings, state, read_only);
  LoadCompanyStage(state);
}

GuardedText Describe(const RunState& state, const Error& error) {
  return ReportBody(error, &state.trace, state.secrets);
}

namespace {

// A failure ended the run: the ledger keeps what it says of the message in hand. The run's report
// stays the first failure; where the ledger cannot write, a warning says so, and what it left
// claimed is taken over once the claim's time has passed.
void SettleLedger(RunState& state, const Error& failure) {
  if (!state.ledger) return;
  try {
    state.ledger->SettleAfter(failure);
  } catch (const std::exception& also) {
    if (state.report != nullptr) {
      (void)state.report->Write(WarningLine(Own("the ledger could not record how the run ended: ") +
                                            OneLineMasked(also.what(), state.secrets)),
                                Priority::kWarning);
    }
  }
}

}  // namespace

Outcome AtTheTop(RunState& state, const std::function<int()>& body) {
  const auto failed = [&](const Error& error) {
    return Outcome{ExitStatusFor(error.kind()), ReportLine(error, &state.trace, state.secrets)};
  };
  try {
    return Outcome{body(), {}};
  } catch (const ProcessEnded& end) {
    return Outcome{end.status(), {}};
  } catch (const Error& error) {
    SettleLedger(state, error);
    return failed(error);
  } catch (const std::bad_alloc&) {
    return failed(Error(ErrorKind::kSystem, errnum::kOutOfMemory, "Out of memory"));
  } catch (const std::exception& unexpected) {
    return failed(Error(ErrorKind::kInternal, errnum::kInternalError,
                        std::string("Internal error: ") + unexpected.what()));
  } catch (...) {
    return failed(Error(ErrorKind::kInternal, errnum::kInternalError,
                        "Internal error: an exception of unknown type"));
  }
}

int Main(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger) {
  StartUp(surroundings, state);

  state.trace.Stage("single-instance check");
  state.guard = std::make_unique<InstanceGuard>(surroundings.program_folder);
  const bool first_here = state.guard->TryAcquire();
  bool going_on = first_here;
  // With the ledger, a run on another host with this database stands down as a second instance
  // here does; the database says which host holds it.
  std::string holder;
  if (going_on && ledger) going_on = StartLedger(surroundings, state, holder);
  if (surroundings.after_guard) surroundings.after_guard(going_on);
  if (!going_on) {
    // Standing down is no failure: one line with the title and the text of the message.
    GuardedText line = GuardedText(Own(kProgramName)) +
                       Own(": Application Already Running: This application is already running");
    if (first_here) {  // the ledger's lock, not this host's, is held elsewhere
      line += Own(" on ") + OneLineMasked(holder.empty() ? "another host" : holder, state.secrets) +
              Own(" with this database");
    }
    (void)surroundings.report.Write(line + Own(".\n"), Priority::kNotice);
    EndProcess(exit_status::kAlreadyRunning);
  }

  state.form = std::make_unique<window::Form1>(*state.gConn, state.settings, surroundings.mail,
                                               surroundings.clock, state.trace);
  state.form->EchoLogTo(surroundings.out, surroundings.alerts);
  state.form->CountMessagesIn(surroundings.messages);
  state.form->KeepLedger(state.ledger.get());
  state.form->SetLoadPasses(fleet, /*mark_rows=*/true);
  state.form->Load();  // its load handler ends the process
  state.form->Show();
  return exit_status::kOk;
}

namespace {

int Dispatch(const Command& command, const Surroundings& surroundings, RunState& state) {
  switch (command.kind) {
    case CommandKind::kCheck:
      return CheckSetup(surroundings, state, command.fleet, LedgerWanted(command));
    case CommandKind::kDryRun:
      return DryRun(surroundings, state, command.fleet, LedgerWanted(command));
    case CommandKind::kTestMail:
      return TestMail(surroundings, state, command.address);
    case CommandKind::kHistory:
      return History(surroundings, state, command.history_days);
    default:
      return Main(surroundings, state, command.fleet, LedgerWanted(command));
  }
}

}  // namespace

int RunProcess(const Command& command, SecretGuard& secrets, const Output& report,
               const Output& out) {
  const auto started = std::chrono::steady_clock::now();
  // A PWD= part is masked wherever any text quotes one, before the settings are even read.
  secrets.AddGrammar([](std::string_view text) { return data::MaskPasswordValues(text, "****"); });
  // What the end tells the monitors; it lives as long as anything may end the run.
  std::atomic<long> alerts{0};
  std::atomic<long> messages{0};
  std::atomic<bool> stood_down{false};
  std::optional<Heartbeat> heartbeat;
  std::filesystem::path metrics_file;
  RunTrace trace;
  trace.Stage("ReadConfig");
  std::optional<Watchdog> watchdog;
  std::filesystem::path executable;
  std::filesystem::path settings_file;
  std::optional<std::string> runs_as;
  try {
    // Who runs is settled first, while the process has one thread, and before anything is read.
    executable = ExecutablePath();
    std::error_code unknown;  // a working folder that cannot be named: the path as given
    settings_file = std::filesystem::absolute(command.settings_file, unknown);
    if (command.settings_file.empty() || unknown) settings_file = command.settings_file;
    runs_as = RunAsSettingsOwner(settings_file.empty() ? executable.parent_path() / "config.txt"
                                                       : settings_file);
  } catch (const Error& error) {
    (void)report.Write(ReportLine(error, &trace, secrets), Priority::kError);
    return ExitStatusFor(error.kind());
  }
  try {
    watchdog.emplace(trace, report, data::ProgramParts::kDefaultRunTimeout);
  } catch (const Error& error) {
    (void)report.Write(ReportLine(error, nullptr, secrets), Priority::kError);
    return ExitStatusFor(error.kind());
  }
  Outcome outcome;
  {
    // Declared before the state, so that it goes after the window that uses it: its QUIT is the
    // last wait of the process.
    std::optional<mail::DeliveringMailComponent> mail;
    RunState state(trace, &*watchdog, secrets);
    state.report = &report;
    const SystemClock clock;
    std::function<void(bool)> after_guard;
    outcome = AtTheTop(state, [&] {
      // Only a run reports to monitoring: the operator commands are watched by their operator.
      if (command.kind == CommandKind::kRun) {
        const MonitorSettings monitors = MonitorSettings::Resolve(
            command.heartbeat_url, command.heartbeat_style, command.metrics_file);
        heartbeat.emplace(monitors.heartbeat_url, monitors.heartbeat_source,
                          monitors.heartbeat_style, mail::MailOptions::FromEnvironment().ca_file,
                          kHeartbeatLimit, secrets);
        metrics_file = monitors.metrics_file;
        // A run that fails before the guard is heard too; one that stands down is not: it is no
        // failure, and another run is telling the monitors about itself.
        watchdog->SetEndNotice([&](const Outcome& end) {
          if (stood_down) return GuardedText();
          RunSummary summary;
          summary.exit_status = end.status;
          summary.messages_sent = messages.load();
          summary.alerts_handled = alerts.load();
          summary.duration = std::chrono::steady_clock::now() - started;
          summary.report = end.report;
          summary.ended = std::chrono::system_clock::now();
          return heartbeat->Finish(summary) + WriteMetricsFile(metrics_file, summary, secrets);
        });
        after_guard = [&](bool going_on) {
          stood_down = !going_on;
          if (going_on) (void)report.Write(heartbeat->Start(), Priority::kWarning);
        };
      }
      mail::MailOptions options = mail::MailOptions::FromEnvironment();
      options.watch = &*watchdog;
      mail.emplace(executable.parent_path(), std::move(options));
      const Surroundings surroundings{executable,    executable.parent_path(),
                                      clock,         *mail,
                                      report,        out,
                                      &alerts,       &messages,
                                      settings_file, runs_as.value_or(""),
                                      after_guard};
      return Dispatch(command, surroundings, state);
    });
    trace.Stage("closing the database and the mail server's connection");
    watchdog->BeginTeardown(outcome);
  }
  return watchdog->Conclude(outcome);
}

}  // namespace corvane::run
