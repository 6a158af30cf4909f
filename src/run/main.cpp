// corvane-email-handler: one unattended run, started by cron or a systemd timer. It takes no
// command line; config.txt beside the executable says where the database is.
#include <iostream>

#include "base/clock.h"
#include "mail/delivering_component.h"
#include "run/main_sequence.h"
#include "run/program_identity.h"

int main() {
  try {
    const std::filesystem::path executable = corvane::run::ExecutablePath();
    const corvane::SystemClock clock;
    corvane::mail::DeliveringMailComponent mail(executable.parent_path());
    return corvane::run::Main({executable, executable.parent_path(), clock, mail, std::cerr});
  } catch (const std::exception& error) {
    // Only the surroundings themselves can fail here (the program's own path unknown).
    std::cerr << "corvane-email-handler: " << error.what() << '\n';
    return 71;
  }
}
