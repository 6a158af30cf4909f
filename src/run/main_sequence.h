// The entry of a run and its frame: the order of the start-up stages, the single-instance guard,
// and the one failure rule (an Error anywhere ends the run; only the top reports it). The
// operator commands (operator_commands.h) start with the same stages.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "alerts/ledger/message_ledger.h"
#include "base/clock.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/connection.h"
#include "mail/delivering_component.h"
#include "run/command_line.h"
#include "run/program_identity.h"
#include "run/watchdog.h"
#include "window/form1.h"

namespace corvane::run {

// What a run takes from its surroundings; RunProcess gives the real ones.
struct Surroundings {
  std::filesystem::path executable;      // the program's own file
  std::filesystem::path program_folder;  // where config.txt lives
  const Clock& clock;
  mail::DeliveringMailComponent& mail;
  std::ostream& report;  // the single-instance message (stderr)
  std::ostream& out;     // the run's log lines, the operator commands' output (stdout)
  std::atomic<long>* alerts = nullptr;  // counts the run's alerts (its log lines), if given
};

// Everything a run or command holds until the process ends. Members are released in reverse
// order when it goes: the window, the ledger, the connection (and the ledger's lock with it),
// the guard's lock.
struct RunState {
  RunState(RunTrace& run_trace, Watchdog* run_watchdog) : trace(run_trace), watchdog(run_watchdog) {}

  RunTrace& trace;
  Watchdog* watchdog;                // null: nothing watches the waits (tests in-process)
  std::vector<std::string> secrets;  // what no report may show
  RunSettings settings;
  std::unique_ptr<InstanceGuard> guard;
  std::unique_ptr<data::Connection> gConn;
  std::unique_ptr<alerts::MessageLedger> ledger;  // --ledger
  std::unique_ptr<window::Form1> form;

  WaitWatch* watch() { return watchdog; }
  void AddSecret(std::string secret);
};

// The start-up stages, each under its own name in the trace.
void ReadConfigStage(const Surroundings& surroundings, RunState& state);
// `read_only`: for the commands that must change nothing (--check, --dry-run): the database is
// opened so that nothing can be written, and nothing is created beside an SQLite file.
void OpenDatabaseStage(const Surroundings& surroundings, RunState& state, bool read_only = false);
// Fails (kSettings, 3021) for an empty Company table: no mail server, no sender.
void LoadCompanyStage(RunState& state);
// The three in order: what every run and command but --check starts with.
void StartUp(const Surroundings& surroundings, RunState& state, bool read_only = false);

// Runs `body` and gives its outcome: its status, or for an Error (or any other exception) the
// status of its kind and one masked report line; an ended process gives its status. After an
// Error, the run's ledger settles what it had in hand. Never throws.
Outcome AtTheTop(RunState& state, const std::function<int()>& body);
// The report of an error as the top would write it, without the program's name and the line end.
std::string Describe(const RunState& state, long number, const std::string& description);

// The run: ReadConfig, OpenDatabase, LoadCompany, the single-instance guard (with `ledger`, the
// ledger's run lock beside it), loading the alert window (whose load handler runs the
// tour-drop pass, with `fleet` the fleet-ticket and fleet-action passes after it, and ends the
// process). Each log line is also written to `out`. Returns the exit status; fails with the
// Error that ended the run.
int Main(const Surroundings& surroundings, RunState& state, bool fleet = false,
         bool ledger = false);

// The whole process after its command line: the watchdog first, then the command, then tearing
// down under the watchdog, and the one decision. Returns the status to exit with.
int RunProcess(const Command& command);

}  // namespace corvane::run
