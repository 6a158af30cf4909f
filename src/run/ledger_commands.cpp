#include "run/ledger_commands.h"

#include <cstdlib>
#include <ostream>

#include "base/error.h"
#include "base/one_line.h"
#include "base/process_end.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "run/program_identity.h"
#include "run/report.h"

namespace corvane::run {

namespace {

constexpr std::string_view kLedgerEnv = "CORVANE_LEDGER";

std::unique_ptr<alerts::MessageLedger> MakeLedger(const Surroundings& surroundings, RunState& state,
                                                  bool look_only, alerts::MessageLedger::Say say) {
  auto table = std::make_unique<alerts::LedgerTable>(*state.gConn, HostName());
  table->RequireTable();
  const auto limit = data::ReadProgramParts(state.settings.gConnectString).run_timeout;
  return std::make_unique<alerts::MessageLedger>(std::move(table), surroundings.mail, limit,
                                                 look_only, std::move(say));
}

}  // namespace

bool LedgerWanted(const Command& command) {
  if (command.ledger) return true;
  const char* set = std::getenv(kLedgerEnv.data());
  const std::string_view value = set == nullptr ? "" : set;
  if (value.empty() || value == "0") return false;
  if (value == "1") return true;
  throw Error(ErrorKind::kSettings, errnum::kInvalidProcedureCall,
              "Invalid procedure call or argument: " + std::string(kLedgerEnv) + " is \"" +
                  OneLineText(value) + "\"; 1 keeps the ledger, 0 or nothing does not");
}

void StartLedger(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ledger lock");
  std::ostream& report = surroundings.report;
  state.ledger = MakeLedger(surroundings, state, false, [&report, &state](const std::string& line) {
    report << WarningLine(line, state.secrets) << std::flush;
  });
  const data::RunLockAnswer lock = state.ledger->TakeRunLock(surroundings.clock.Today());
  if (lock.held) return;
  state.ledger.reset();
  // As a second instance stands down, in one line: the holder's host comes from the database.
  report << "Application Already Running: This application is already running on "
         << OneLineText(lock.holder.empty() ? "another host" : lock.holder)
         << " with this database.\n"
         << std::flush;
  EndProcess(exit_status::kAlreadyRunning);
}

void LookAtLedger(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ledger");
  std::ostream& out = surroundings.out;
  state.ledger = MakeLedger(surroundings, state, true, [&out](const std::string& line) {
    out << OneLineText(line) << '\n' << std::flush;
  });
}

LedgerCheck CheckLedger(RunState& state) {
  state.trace.Stage("ledger check");
  alerts::LedgerTable table(*state.gConn, "");
  table.RequireTable();
  table.ReadColumns();
  const std::optional<bool> may = table.MayKeep();
  if (may == false) {
    data::ThrowDatabaseError(errnum::kPermissionDenied,
                             "Permission denied: this login may not read, add and change the "
                             "rows of CorvaneLedger; an administrator grants it with sql/" +
                                 std::string(table.setup_file()));
  }
  if (!may) {
    return {"CorvaneLedger has its columns; " + state.gConn->EngineName() +
                " does not say here whether this login may read, add and change its rows",
            false};
  }
  return {"CorvaneLedger has its columns, and this login may read, add and change its rows"};
}

int History(const Surroundings& surroundings, RunState& state, int days) {
  ReadConfigStage(surroundings, state);
  OpenDatabaseStage(surroundings, state, /*read_only=*/true);
  state.trace.Stage("history");
  alerts::LedgerTable table(*state.gConn, "");
  table.RequireTable();
  table.History(std::chrono::hours(24) * days, [&](const alerts::LedgerRow& row) {
    const Value& time = row.sent_at.is_null() ? row.claimed_at : row.sent_at;
    std::string line;
    for (const std::string& field : {alerts::LedgerTimeText(time), row.host, row.pass, row.key,
                                     row.recipients, row.state, row.reply}) {
      if (!line.empty()) line += '\t';
      line += OneLineText(MaskSecrets(field, state.secrets));
    }
    surroundings.out << line << '\n';
  });
  surroundings.out.flush();
  return exit_status::kOk;
}

}  // namespace corvane::run
