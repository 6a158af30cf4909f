// The entry of a run and its frame: the order of the start-up stages, the single-instance guard,
// and the one failure rule (an Error anywhere ends the run; only the top reports it). The
// operator commands (operator_commands.h) start with the same stages.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "alerts/ledger/message_ledger.h"
#include "base/clock.h"
#include "base/output.h"
#include "base/run_settings.h"
#include "base/secret_guard.h"
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
  const Output& report;  // standard error: the stand-down line, warnings
  const Output& out;     // standard output: the run's log lines, the operator commands' output
  std::atomic<long>* alerts = nullptr;    // counts the alerts handled (log lines), if given
  std::atomic<long>* messages = nullptr;  // counts the messages the server accepted, if given
  std::filesystem::path settings_file;    // --config's file; empty: config.txt in the folder
  std::string runs_as;  // the account a root start switched to (settings_owner.h); empty: none
  // Called once by a run when the single-instance guard has decided: true, the run goes on
  // (monitors may hear that it started); false, it stands down.
  std::function<void(bool going_on)> after_guard;
};

// The settings file a command reads: --config's, else config.txt in the program folder.
std::filesystem::path SettingsFile(const Surroundings& surroundings);

// Everything a run or command holds until the process ends. Members are released in reverse
// order when it goes: the window, the ledger, the connection (and the ledger's lock with it),
// the guard's lock.
struct RunState {
  RunState(RunTrace& run_trace, Watchdog* run_watchdog, SecretGuard& run_secrets)
      : trace(run_trace), watchdog(run_watchdog), secrets(run_secrets) {}

  RunTrace& trace;
  Watchdog* watchdog;              // null: nothing watches the waits (tests in-process)
  SecretGuard& secrets;            // what no output may show; every stage adds what it learns
  const Output* report = nullptr;  // where warnings go (standard error), if anywhere
  RunSettings settings;
  std::unique_ptr<InstanceGuard> guard;
  std::unique_ptr<data::Connection> gConn;
  std::unique_ptr<alerts::MessageLedger> ledger;  // --ledger
  std::unique_ptr<window::Form1> form;

  WaitWatch* watch() { return watchdog; }
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

// Runs `body` and gives its outcome: its status, or for an Error (or anything else thrown) the
// status of its kind and one report line; an ended process gives its status. After an Error,
// the run's ledger settles what it had in hand. Never throws.
Outcome AtTheTop(RunState& state, const std::function<int()>& body);
// The report of an error as the top would write it, without the program's name and the line end.
GuardedText Describe(const RunState& state, const Error& error);

// The run: ReadConfig, OpenDatabase, LoadCompany, the single-instance guard (with `ledger`, the
// ledger's run lock beside it), loading the alert window (whose load handler runs the
// tour-drop pass, with `fleet` the fleet-ticket and fleet-action passes after it, and ends the
// process). Each log line is also written to `out`. A run that finds another going, here or
// (with `ledger`) on another host, prints one line and ends with 75, having done nothing.
// Returns the exit status; fails with the Error that ended the run.
int Main(const Surroundings& surroundings, RunState& state, bool fleet = false,
         bool ledger = false);

// The whole process after its command line: the watchdog first, then the command, then tearing
// down under the watchdog, and the one decision. Everything it writes goes through `report`
// (standard error) and `out` (standard output), whose guard is the run's. Returns the status to
// exit with.
int RunProcess(const Command& command, SecretGuard& secrets, const Output& report,
               const Output& out);

}  // namespace corvane::run
