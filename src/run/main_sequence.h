// The entry of a run and its frame: the order of the start-up stages, the single-instance guard,
// and the one failure rule (an Error anywhere ends the run; only the top reports it).
#pragma once

#include <filesystem>
#include <iosfwd>

#include "base/clock.h"
#include "mail/mail_message.h"

namespace corvane::run {

// What a run takes from its surroundings; main() gives the real ones, tests their own.
struct Surroundings {
  std::filesystem::path executable;      // the program's identity for the single-instance guard
  std::filesystem::path program_folder;  // where config.txt lives
  const Clock& clock;
  mail::MailComponent& mail;
  std::ostream& report;  // the error report and the single-instance message (stderr)
  // The descriptor of `report`, for the watchdog (run/watchdog.h) that ends a run stuck past a
  // limit or stopped by a signal; -1: no watchdog (tests that run the stages in-process).
  int watchdog_report_fd = -1;
};

// Runs the stages in order: ReadConfig, OpenDatabase, LoadCompany, the single-instance guard,
// loading the alert window (whose load handler runs the tour-drop pass and ends the process).
// Returns the process's exit status (exit_status.h); never throws.
int Main(const Surroundings& surroundings);

}  // namespace corvane::run
