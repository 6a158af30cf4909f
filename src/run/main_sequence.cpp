#include "run/main_sequence.h"

#include <unistd.h>

#include <atomic>
#include <iostream>
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

namespace corvane::run {

namespace {

// Each request to a cron monitor; two of them (start and end) cost a run at most twice this.
constexpr std::chrono::seconds kHeartbeatLimit{5};

}  // namespace

void RunState::AddSecret(std::string secret) {
  if (secret.empty()) return;
  secrets.push_back(std::move(secret));
  if (watchdog != nullptr) watchdog->SetSecrets(secrets);
}

void ReadConfigStage(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ReadConfig");
  ReadConfig(surroundings.program_folder, surroundings.executable, state.settings);
  state.AddSecret(data::DatabasePassword(state.settings.gConnectString));
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
  for (std::string& text : mail::PasswordTexts(state.settings.gEmailServer)) state.AddSecret(text);
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

std::string Describe(const RunState& state, long number, const std::string& description) {
  std::string line = ReportLine(number, description, state.trace.Describe(), state.secrets);
  line.pop_back();  // the line end
  return line.substr(kProgramName.size() + 2);
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
    std::cerr << WarningLine(
        std::string("the ledger could not record how the run ended: ") + also.what(),
        state.secrets);
  }
}

}  // namespace

Outcome AtTheTop(RunState& state, const std::function<int()>& body) {
  const auto failed = [&](ErrorKind kind, long number, const std::string& description) {
    return Outcome{ExitStatusFor(kind),
                   ReportLine(number, description, state.trace.Describe(), state.secrets)};
  };
  try {
    return Outcome{body(), ""};
  } catch (const ProcessEnded& end) {
    return Outcome{end.status(), ""};
  } catch (const Error& error) {
    SettleLedger(state, error);
    return failed(error.kind(), error.number(), error.description());
  } catch (const std::bad_alloc&) {
    return failed(ErrorKind::kSystem, errnum::kOutOfMemory, "Out of memory");
  } catch (const std::exception& unexpected) {
    return failed(ErrorKind::kInternal, errnum::kInternalError,
                  std::string("Internal error: ") + unexpected.what());
  }
}

int Main(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger) {
  StartUp(surroundings, state);

  state.trace.Stage("single-instance check");
  state.guard = std::make_unique<InstanceGuard>(surroundings.program_folder);
  if (!state.guard->TryAcquire()) {
    surroundings.report << "Application Already Running\n"
                        << "This application is already running.\n";
    surroundings.report.flush();
    EndProcess(exit_status::kAlreadyRunning);
  }
  if (ledger) StartLedger(surroundings, state);

  state.form = std::make_unique<window::Form1>(*state.gConn, state.settings, surroundings.mail,
                                               surroundings.clock, state.trace);
  state.form->EchoLogTo(surroundings.out, surroundings.alerts);
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

int RunProcess(const Command& command) {
  const auto started = std::chrono::steady_clock::now();
  // What the end tells the monitors; it lives as long as anything may end the run.
  std::atomic<long> alerts{0};
  std::optional<Heartbeat> heartbeat;
  std::filesystem::path metrics_file;
  RunTrace trace;
  std::optional<Watchdog> watchdog;
  try {
    watchdog.emplace(trace, STDERR_FILENO, data::ProgramParts::kDefaultRunTimeout);
  } catch (const Error& error) {
    std::cerr << ReportLine(error.number(), error.description(), "", {});
    return ExitStatusFor(error.kind());
  }
  Outcome outcome;
  {
    // Declared before the state, so that it goes after the window that uses it: its QUIT is the
    // last wait of the process.
    std::optional<mail::DeliveringMailComponent> mail;
    RunState state(trace, &*watchdog);
    const SystemClock clock;
    outcome = AtTheTop(state, [&] {
      // Only a run reports to monitoring: the operator commands are watched by their operator.
      if (command.kind == CommandKind::kRun) {
        const MonitorSettings monitors =
            MonitorSettings::Resolve(command.heartbeat_url, command.metrics_file);
        heartbeat.emplace(monitors.heartbeat_url, monitors.heartbeat_source,
                          mail::MailOptions::FromEnvironment().ca_file, kHeartbeatLimit);
        for (std::string& secret : heartbeat->Secrets()) state.AddSecret(std::move(secret));
        metrics_file = monitors.metrics_file;
        watchdog->SetEndNotice([&](const Outcome& end) {
          RunSummary summary;
          summary.exit_status = end.status;
          summary.alerts_sent = alerts.load();
          summary.duration = std::chrono::steady_clock::now() - started;
          summary.report = end.report;
          summary.ended = std::chrono::system_clock::now();
          return heartbeat->Finish(summary) + WriteMetricsFile(metrics_file, summary);
        });
        std::cerr << heartbeat->Start() << std::flush;
      }
      const std::filesystem::path executable = ExecutablePath();
      mail::MailOptions options = mail::MailOptions::FromEnvironment();
      options.watch = &*watchdog;
      mail.emplace(executable.parent_path(), std::move(options));
      const Surroundings surroundings{executable, executable.parent_path(), clock, *mail,
                                      std::cerr,  std::cout,               &alerts};
      return Dispatch(command, surroundings, state);
    });
    std::cout.flush();
    trace.Stage("closing the database and the mail server's connection");
    watchdog->BeginTeardown(outcome);
  }
  return watchdog->Conclude(outcome);
}

}  // namespace corvane::run
