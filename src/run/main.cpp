// corvane-email-handler: one unattended run, started by cron or a systemd timer with no command
// line; config.txt beside the executable says where the database is. The operator commands
// (--check, --dry-run, --test-mail) prove a setup before the day an alert is due.
#include <iostream>
#include <variant>

#include "base/status_codes.h"
#include "run/command_line.h"
#include "run/main_sequence.h"
#include "run/report.h"
#include "run/watchdog.h"

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
  return corvane::run::RunProcess(command);
}
