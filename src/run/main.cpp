// corvane-email-handler: one unattended run, started by cron or a systemd timer with no command
// line; config.txt beside the executable says where the database is. The operator commands
// (--check, --dry-run, --test-mail) prove a setup before the day an alert is due.
#include <unistd.h>

#include <variant>

#include "base/output.h"
#include "base/secret_guard.h"
#include "base/status_codes.h"
#include "run/command_line.h"
#include "run/main_sequence.h"
#include "run/report.h"
#include "run/watchdog.h"

int main(int argc, char* argv[]) {
  // Before any thread exists (libcurl's resolver makes some): the watchdog takes the signals.
  corvane::run::Watchdog::TakeOverSignals();
  // The run's one guard and its two doors: nothing reaches stderr or stdout but through them.
  corvane::SecretGuard secrets;
  const corvane::Output report(STDERR_FILENO, secrets);
  const corvane::Output out(STDOUT_FILENO, secrets);
  const auto parsed = corvane::run::ParseCommandLine(argc, argv);
  if (const auto* usage = std::get_if<corvane::run::UsageError>(&parsed)) {
    (void)report.Write(corvane::GuardedText(corvane::Own(corvane::run::kProgramName)) +
                           corvane::Own(": ") + corvane::run::OneLineMasked(usage->what, secrets) +
                           corvane::Own("\n") + corvane::run::UsageText(),
                       corvane::Priority::kError);
    return corvane::exit_status::kUsage;
  }
  const auto& command = std::get<corvane::run::Command>(parsed);
  if (command.kind == corvane::run::CommandKind::kHelp) {
    (void)out.Write(corvane::run::UsageText());
    return corvane::exit_status::kOk;
  }
  if (command.kind == corvane::run::CommandKind::kVersion) {
    (void)out.Write(corvane::GuardedText(corvane::Own(corvane::run::kProgramName)) +
                    corvane::Own(" " CORVANE_VERSION "\n"));
    return corvane::exit_status::kOk;
  }
  return corvane::run::RunProcess(command, secrets, report, out);
}
