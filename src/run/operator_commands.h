// The operator commands: proving a setup before the day an alert is due. Each starts with the
// run's own stages and reuses the passes and the mail component up to the hand-over to the
// server, so what they show cannot drift from what a run does. None writes to the database;
// only --test-mail sends a message. No single-instance lock is taken: they may run beside a run.
#pragma once

#include <string>

#include "run/main_sequence.h"

namespace corvane::run {

// --check: one line per item on `out` ("<item>  ok|not checked|FAILED|skipped  <detail>"): the
// settings file, the database connection (opened read-only), the Company row, the schema the
// chosen run's passes need (with `fleet`, the fleet passes' too, and whether this login may write
// their marks), the mail server (or pickup folder) with the senders and fixed recipients of those
// passes. Returns 0 when no item failed, else the status of the first failure.
// With `ledger`, the ledger's table too (run/ledger_commands.h).
int CheckSetup(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger = false);

// --dry-run: the run's passes (with `fleet`, the fleet passes too) against the database opened
// read-only, each message they would send shown on `out` as its reader will see it
// (mail/transport/transport_registry.h gives the form). Nothing is sent and nothing is marked.
// With `ledger`, each message the ledger would skip is said instead.
int DryRun(const Surroundings& surroundings, RunState& state, bool fleet, bool ledger = false);

// --test-mail ADDRESS: one short message from the configured sender through the configured
// server; the server's reply on `out`.
int TestMail(const Surroundings& surroundings, RunState& state, const std::string& address);

}  // namespace corvane::run
