#include "run/ledger_commands.h"

#include <cstdlib>

#include "base/error.h"
#include "base/one_line.h"
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

bool StartLedger(const Surroundings& surroundings, RunState& state, std::string& holder) {
  state.trace.Stage("ledger lock");
  const Output& report = surroundings.report;
  const SecretGuard& guard = state.secrets;
  state.ledger = MakeLedger(surroundings, state, false, [&report, &guard](const std::string& line) {
    (void)report.Write(WarningLine(OneLineMasked(line, guard)), Priority::kWarning);
  });
  const data::RunLockAnswer lock = state.ledger->TakeRunLock(surroundings.clock.Today());
  if (lock.held) return true;
  state.ledger.reset();
  holder = lock.holder;
  return false;
}

void LookAtLedger(const Surroundings& surroundings, RunState& state) {
  state.trace.Stage("ledger");
  const Output& out = surroundings.out;
  const SecretGuard& guard = state.secrets;
  state.ledger = MakeLedger(surroundings, state, true, [&out, &guard](const std::string& line) {
    (void)out.Write(OneLineMasked(line, guard) + Own("\n"));
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
    GuardedText line;
    for (const std::string& field : {alerts::LedgerTimeText(time), row.host, row.pass, row.key,
                                     row.recipients, row.state, row.reply}) {
      if (!line.empty()) line += Own("\t");
      line += OneLineMasked(field, state.secrets);
    }
    (void)surroundings.out.Write(line + Own("\n"));
  });
  return exit_status::kOk;
}

}  // namespace corvane::run
