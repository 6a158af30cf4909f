// corvane-email-handler: one unattended run, started by cron or a systemd timer. It takes no
// command line; config.txt beside the executable says where the database is.
#include <unistd.h>

#include <iostream>

#include "base/clock.h"
#include "mail/delivering_component.h"
#include "run/exit_status.h"
#include "run/main_sequence.h"
#include "run/program_identity.h"
#include "run/report.h"
#include "run/watchdog.h"

int main() {
  // Before any thread exists (libcurl's resolver makes some): the watchdog takes the signals.
  corvane::run::Watchdog::TakeOverSignals();
  try {
    const std::filesystem::path executable = corvane::run::ExecutablePath();
    const corvane::SystemClock clock;
    corvane::mail::DeliveringMailComponent mail(executable.parent_path());
    return corvane::run::Main(
        {executable, executable.parent_path(), clock, mail, std::cerr, STDERR_FILENO});
  } catch (const std::exception& error) {
    // Only the surroundings themselves can fail here (the program's own path unknown).
    std::cerr << corvane::run::OneLine(std::string(corvane::run::kProgramName) + ": " +
                                       error.what())
              << '\n';
    return corvane::run::kExitOsError;
  }
}
