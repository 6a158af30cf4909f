// The entry of a run and its frame: the order of the start-up stages, the single-instance guard,
// and the one failure rule (an Error anywhere ends the run; only the top reports it). The
// operator commands (operator_commands.h) start with the same stages.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/connection.h"
#include "mail/mail_message.h"
#include "run/program_identity.h"
#include "run/watchdog.h"
#include "window/form1.h"

namespace corvane::run {

// What a run takes from its surroundings; main() gives the real ones.
struct Surroundings {
  std::filesystem::path executable;      // the program's identity for the single-instance guard
  std::filesystem::path program_folder;  // where config.txt lives
  const Clock& clock;
  mail::MailComponent& mail;
  std::ostream& report;  // the error report and the single-instance message (stderr)
  std::ostream& out;     // the run's log lines, the operator commands' output (stdout)
  // The descriptor of `report`, for the watchdog (run/watchdog.h) that ends a run stuck past a
  // limit or stopped by a signal; -1: no watchdog.
  int watchdog_report_fd = -1;
};

// Everything a run or a command holds until the process ends. Members are released in reverse
// order when it unwinds: the window, the connection, the guard's lock, the watchdog last.
struct RunState {
  RunTrace trace;
  std::vector<std::string> secrets;  // what no report may show
  std::optional<Watchdog> watchdog;
  RunSettings settings;
  std::unique_ptr<InstanceGuard> guard;
  std::unique_ptr<data::Connection> gConn;
  std::unique_ptr<window::Form1> form;

  WaitWatch* watch() { return watchdog ? &*watchdog : nullptr; }
  void AddSecret(std::string secret);
};

// The start-up stages, each under its own name in the trace.
void ReadConfigStage(const Surroundings& surroundings, RunState& state);
void OpenDatabaseStage(const Surroundings& surroundings, RunState& state);
// Fails (kSettings, 3021) for an empty Company table: no mail server, no sender.
void LoadCompanyStage(RunState& state);
// The three in order: what every run and command but --check starts with.
void StartUp(const Surroundings& surroundings, RunState& state);

// The top of a run or command: starts the watchdog, runs `body` and returns its status; an Error
// (or any other exception) becomes one report line on `report` and the status of its kind, and
// an ended process its status. Never throws.
int AtTheTop(const Surroundings& surroundings, RunState& state, const std::function<int()>& body);
// The report of `error` as AtTheTop writes it, without the program's name and the line end.
std::string Describe(const RunState& state, long number, const std::string& description);

// The run: ReadConfig, OpenDatabase, LoadCompany, the single-instance guard, loading the alert
// window (whose load handler runs the tour-drop pass and ends the process). Each log line is also
// written to `out`. Returns the process's exit status (exit_status.h); never throws.
int Main(const Surroundings& surroundings);

}  // namespace corvane::run
