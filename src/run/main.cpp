// corvane-email-handler: one unattended run, started by cron or a systemd timer with no command
// line; config.txt beside the executable says where the database is. The operator commands
// (--check, --dry-run, --test-mail) prove a setup before the day an alert is due.
#include <unistd.h>

#include <iostream>
#include <variant>

#include "base/clock.h"
#include "mail/delivering_component.h"
#include "run/command_line.h"
#include "base/status_codes.h"
#include "run/main_sequence.h"
#include "run/operator_commands.h"
#include "run/program_identity.h"
#include "run/report.h"
#include "run/watchdog.h"

namespace {

int Dispatch(const corvane::run::Command& command) {
  using corvane::run::CommandKind;
  const std::filesystem::path executable = corvane::run::ExecutablePath();
  const corvane::SystemClock clock;
  corvane::mail::DeliveringMailComponent mail(executable.parent_path());
  const corvane::run::Surroundings surroundings{
      executable, executable.parent_path(), clock, mail, std::cerr, std::cout, STDERR_FILENO};
  switch (command.kind) {
    case CommandKind::kCheck:
      return corvane::run::CheckSetup(surroundings, mail);
    case CommandKind::kDryRun:
      return corvane::run::DryRun(surroundings, mail);
    case CommandKind::kTestMail:
      return corvane::run::TestMail(surroundings, mail, command.address);
    default:
      return corvane::run::Main(surroundings);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before any thread exists (libcurl's resolver makes some): the watchdog takes the signals.
  corvane::run::Watchdog::TakeOverSignals();
  const auto parsed = corvane::run::ParseCommandLine(argc, argv);
  if (const auto* usage = std::get_if<corvane::run::UsageError>(&parsed)) {
    std::cerr << corvane::run::kProgramName << ": " << corvane::run::OneLine(usage->what) << '\n'
              << corvane::run::UsageText();
    return corvane::exit_status::kUsage;
  }
  const auto& command = std::get<corvane::run::Command>(parsed);
  if (command.kind == corvane::run::CommandKind::kHelp) {
    std::cout << corvane::run::UsageText();
    return corvane::exit_status::kOk;
  }
  if (command.kind == corvane::run::CommandKind::kVersion) {
    std::cout << corvane::run::kProgramName << ' ' << CORVANE_VERSION << '\n';
    return corvane::exit_status::kOk;
  }
  try {
    return Dispatch(command);
  } catch (const std::exception& error) {
    // Only the surroundings themselves can fail here (the program's own path unknown).
    std::cerr << corvane::run::OneLine(std::string(corvane::run::kProgramName) + ": " +
                                       error.what())
              << '\n';
    return corvane::exit_status::kOsError;
  }
}
