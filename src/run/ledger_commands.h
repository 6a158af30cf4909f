// The ledger's part of a run and of the operator commands (alerts/ledger/message_ledger.h):
// whether a command keeps it, starting it beside the single-instance guard, the dry run's look
// at it, --check's item and --history.
#pragma once

#include <string>

#include "run/main_sequence.h"

namespace corvane::run {

// Whether the command keeps the ledger: --ledger, else CORVANE_LEDGER=1. Fails (kSettings) for
// a CORVANE_LEDGER that is not 1, 0 or empty.
bool LedgerWanted(const Command& command);

// The run's ledger, started after the single-instance guard: fails (kSettings, 78) when its
// table is not there, before anything is sent. Takes the run lock and returns true; when another
// run holds it, returns false with that run's host in `holder` (empty where the engine cannot
// say), and the run stands down as a second instance does, having sent and written nothing. The
// skipped messages' warnings go to the report's output.
bool StartLedger(const Surroundings& surroundings, RunState& state, std::string& holder);

// A dry run's look at the ledger: nothing is written, and each message it would skip is shown
// on the output among the messages. Fails (78) as StartLedger does without the table.
void LookAtLedger(const Surroundings& surroundings, RunState& state);

// --check's ledger item: the table, its columns and this login's rights on it. `rights_known`
// false where the engine cannot tell the rights.
struct LedgerCheck {
  std::string detail;
  bool rights_known = true;
};
LedgerCheck CheckLedger(RunState& state);

// --history DAYS: the ledger's messages claimed in the last DAYS days, newest first, one line
// each: time, host, pass, key, recipients, state, reply, separated by tabs, each field on one
// line (base/one_line.h). Reads only; needs the table, not --ledger.
int History(const Surroundings& surroundings, RunState& state, int days);

}  // namespace corvane::run
