// The operator commands: proving a setup before the day an alert is due. Each starts with the
// run's own stages and reuses the passes and the mail component up to the hand-over to the
// server, so what they show cannot drift from what a run does. None writes to the database;
// only --test-mail sends a message. No single-instance lock is taken: they may run beside a run.
#pragma once

#include <string>

#include "mail/delivering_component.h"
#include "run/main_sequence.h"

namespace corvane::run {

// --check: one line per item on `out` ("<item>  ok|FAILED|skipped  <detail>"): the settings
// file, the database connection, the Company row, the schema the passes need, the mail server
// (or pickup folder). Returns 0 when every item passed, else the status of the first failure.
int CheckSetup(const Surroundings& surroundings, mail::DeliveringMailComponent& mail);

// --dry-run: the tour-drop pass against the real database, each message it would send shown in
// full on `out` (mail/transport/transport_registry.h gives the form). Nothing is sent.
int DryRun(const Surroundings& surroundings, mail::DeliveringMailComponent& mail);

// --test-mail ADDRESS: one short message from the configured sender through the configured
// server; the server's reply on `out`.
int TestMail(const Surroundings& surroundings, mail::DeliveringMailComponent& mail,
             const std::string& address);

}  // namespace corvane::run
