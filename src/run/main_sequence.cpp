#include "run/main_sequence.h"

#include <new>
#include <ostream>

#include "base/error.h"
#include "base/process_end.h"
#include "data/company.h"
#include "data/connection_string.h"
#include "data/database.h"
#include "mail/transport/server_address.h"
#include "base/status_codes.h"
#include "run/report.h"
#include "run/settings_file.h"

namespace corvane::run {

namespace {

void Report(std::ostream& out, const RunState& state, long number, const std::string& description) {
  out << ReportLine(number, description, state.trace.Describe(), state.secrets);
  out.flush();
}

}  // namespace

void RunState::AddSecret(std::string secret) {
  if (secret.empty()) return;
  secrets.push_back(std::move(secret));
  if (watchdog) watchdog->SetSecrets(secrets);
}

void ReadConfigStage(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ReadConfig");
  ReadConfig(surroundings.program_folder, surroundings.executable, state.settings);
}

void OpenDatabaseStage(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("OpenDatabase");
  if (state.watchdog) {
    state.watchdog->SetRunLimit(data::ReadProgramParts(state.settings.gConnectString).run_timeout);
  }
  state.gConn = data::OpenDatabase(state.settings, surroundings.program_folder, state.watch());
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

void StartUp(const Surroundings& surroundings, RunState& state) {
  ReadConfigStage(surroundings, state);
  OpenDatabaseStage(surroundings, state);
  LoadCompanyStage(state);
}

std::string Describe(const RunState& state, long number, const std::string& description) {
  std::string line = ReportLine(number, description, state.trace.Describe(), state.secrets);
  line.pop_back();  // the line end
  return line.substr(kProgramName.size() + 2);
}

int AtTheTop(const Surroundings& surroundings, RunState& state, const std::function<int()>& body) {
  try {
    state.AddSecret(std::string(data::kPasswordValue));
    if (surroundings.watchdog_report_fd >= 0) {
      state.watchdog.emplace(state.trace, surroundings.watchdog_report_fd,
                             data::ProgramParts::kDefaultRunTimeout);
      state.watchdog->SetSecrets(state.secrets);
    }
    return body();
  } catch (const ProcessEnded& end) {
    return end.status();
  } catch (const Error& error) {
    Report(surroundings.report, state, error.number(), error.description());
    return ExitStatusFor(error.kind());
  } catch (const std::bad_alloc&) {
    Report(surroundings.report, state, errnum::kOutOfMemory, "Out of memory");
    return exit_status::kOsError;
  } catch (const std::exception& unexpected) {
    Report(surroundings.report, state, errnum::kInternalError,
           std::string("Internal error: ") + unexpected.what());
    return exit_status::kSoftware;
  }
}

int Main(const Surroundings& surroundings) {
  RunState state;
  return AtTheTop(surroundings, state, [&] {
    StartUp(surroundings, state);

    state.trace.Stage("single-instance check");
    state.guard = std::make_unique<InstanceGuard>(surroundings.program_folder);
    if (!state.guard->TryAcquire()) {
      surroundings.report << "Application Already Running\n"
                          << "This application is already running.\n";
      surroundings.report.flush();
      EndProcess(exit_status::kAlreadyRunning);
    }

    state.form = std::make_unique<window::Form1>(*state.gConn, state.settings, surroundings.mail,
                                                 surroundings.clock, state.trace);
    state.form->EchoLogTo(surroundings.out);
    state.form->Load();  // its load handler ends the process
    state.form->Show();
    return exit_status::kOk;
  });
}

}  // namespace corvane::run
