#include "run/main_sequence.h"

#include <memory>
#include <new>
#include <ostream>

#include "base/error.h"
#include "base/process_end.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/company.h"
#include "data/connection.h"
#include "data/database.h"
#include "run/exit_status.h"
#include "run/program_identity.h"
#include "run/settings_file.h"
#include "window/form1.h"

namespace corvane::run {

namespace {

constexpr const char* kProgram = "corvane-email-handler";

// Everything a run holds until the process ends. Members are released in reverse order when
// the run unwinds: the window, then the connection, then the guard's lock.
struct Run {
  RunSettings settings;
  RunTrace trace;
  std::unique_ptr<InstanceGuard> guard;
  std::unique_ptr<data::Connection> gConn;
  std::unique_ptr<window::Form1> form;
};

void Stages(const Surroundings& surroundings, Run& run) {
  run.trace.Stage("ReadConfig");
  ReadConfig(surroundings.program_folder, run.settings);

  run.trace.Stage("OpenDatabase");
  run.gConn = data::OpenDatabase(run.settings, surroundings.program_folder);

  run.trace.Stage("LoadCompany");
  data::LoadCompany(*run.gConn, run.settings);
  if (!run.settings.company_loaded) {
    // Without the Company row there is no mail server and no sender to work with.
    throw Error(ErrorKind::kSettings, errnum::kRowCannotBeLocated,
                "The Company table has no row: the company and mail settings (EmailServer, "
                "EmailFromAddress, EmailFromName, MaintenanceEmail, ...) are missing");
  }

  run.trace.Stage("single-instance check");
  run.guard = std::make_unique<InstanceGuard>(surroundings.executable);
  if (!run.guard->TryAcquire()) {
    surroundings.report << "Application Already Running\n"
                        << "This application is already running.\n";
    surroundings.report.flush();
    EndProcess(kExitAlreadyRunning);
  }

  run.form = std::make_unique<window::Form1>(*run.gConn, run.settings, surroundings.mail,
                                             surroundings.clock, run.trace);
  run.form->Load();  // its load handler ends the process
  run.form->Show();
}

void Report(std::ostream& out, const std::string& where, long number,
            const std::string& description) {
  out << kProgram << ": run-time error " << number << ": " << description;
  if (!where.empty()) out << " [in " << where << "]";
  out << '\n';
  out.flush();
}

}  // namespace

int Main(const Surroundings& surroundings) {
  Run run;
  try {
    Stages(surroundings, run);
    return kExitOk;
  } catch (const ProcessEnded& end) {
    return end.status();
  } catch (const Error& error) {
    Report(surroundings.report, run.trace.Describe(), error.number(), error.description());
    return ExitStatusFor(error.kind());
  } catch (const std::bad_alloc&) {
    Report(surroundings.report, run.trace.Describe(), 7, "Out of memory");
    return kExitOsError;
  } catch (const std::exception& unexpected) {
    Report(surroundings.report, run.trace.Describe(), 51,
           std::string("Internal error: ") + unexpected.what());
    return kExitSoftware;
  }
}

}  // namespace corvane::run
