// PostgreSQL, through psqlODBC.
#include "base/ascii.h"
#include "base/text_form.h"
#include "data/odbc/odbc_connection.h"
#include "data/profiles/profiles.h"
#include "data/sql_text.h"

namespace corvane::data {

namespace {

// Rows per piece of a cursor: a piece costs one round trip and is held by the driver.
constexpr std::size_t kCursorPieceRows = 1000;

std::string Milliseconds(std::chrono::seconds limit) {
  return std::to_string(limit.count() * 1000);
}

// The ledger's run lock: a session-level advisory lock of the database (its two keys spell
// "Corv" "Ledg"), dropped by the server when the session ends. Whoever holds it has named
// itself in its session's application_name, which the other sessions of the login can read.
constexpr long kRunLockClass = 0x436F7276;
constexpr long kRunLockObject = 0x4C656467;
constexpr std::string_view kRunLockName = "corvane-email-handler on ";

const LedgerDialect& PostgresLedger() {
  static const LedgerDialect dialect = [] {
    LedgerDialect d = MakeLedgerDialect(
        "ledger-postgres.sql",
        "SELECT COUNT(*) AS Found FROM information_schema.tables WHERE table_schema = "
        "current_schema() AND table_name = 'corvaneledger'",
        "CURRENT_TIMESTAMP", "CURRENT_TIMESTAMP + CAST(? AS INTEGER) * INTERVAL '1 second'",
        " ON CONFLICT (Pass, AlertKey) DO NOTHING");
    // A data-modifying WITH: the previous message's record travels with the next claim.
    d.record_then_claim =
        "WITH recorded AS (UPDATE CorvaneLedger SET State = ?, SentAt = CURRENT_TIMESTAMP, "
        "Reply = ? WHERE Pass = ? AND AlertKey = ? AND State = 'claimed') " +
        d.claim;
    return d;
  }();
  return dialect;
}

class Postgres final : public EngineProfile {
 public:
  std::string_view name() const override { return "PostgreSQL"; }

  bool Claims(const ConnectionString& read) const override {
    return NamesOdbcDriver(read, {"postgres", "psqlodbc"});
  }

  std::unique_ptr<Connection> Open(const ConnectionString& read,
                                   const ConnectOptions& options) const override {
    ConnectionString parts = DriverParts(read);
    // Over TCP, keep-alive probes notice a server host that vanished mid-statement long
    // before the system's two hours; libpq options given in pqopt are left alone.
    if (!parts.Find("KeepaliveTime") && !parts.Find("pqopt")) {
      parts.Add("KeepaliveTime", "30");
      parts.Add("KeepaliveInterval", "10");
    }
    return std::make_unique<OdbcConnection>(parts, options);
  }

  bool IsServer(std::string_view dbms_name, std::string_view) const override {
    return dbms_name == "PostgreSQL";
  }

  std::string AdaptQuery(std::string_view sql) const override { return TopToLimit(sql); }

  std::vector<std::string> SessionSetup(const SessionLimits& limits) const override {
    // The queries' dates are US-English short dates, read as month-day-year whatever the client
    // environment (PGDATESTYLE, PGOPTIONS) says; psqlODBC does not pin DateStyle itself. A row
    // another client keeps locked (a mark's UPDATE) is waited for as long as a busy SQLite file,
    // not for ever.
    return {"SET DateStyle = 'ISO, MDY'", "SET lock_timeout = " + Milliseconds(limits.lock_wait),
            "SET statement_timeout = " + Milliseconds(limits.statement)};
  }

  ReadOnlyLook ReadOnlyLookSetup() const override {
    // One snapshot for every statement of the look, taken by its first query.
    return {true, {"SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"}};
  }

  // Without UseDeclareFetch (which would make a cursor of every lookup too), psqlODBC reads
  // each result whole.
  ResultHolding result_holding() const override { return ResultHolding::kDriverHoldsResult; }

  std::optional<CursorStatements> Cursor(std::string_view query,
                                         std::string_view name) const override {
    // WITH HOLD: the cursor outlives the commit of each mark written meanwhile, and reads the
    // rows as they were when it was declared.
    // Built by appends: GCC 12 warns falsely (-Wrestrict) on a chain of + here.
    std::string cursor = "\"";
    cursor += name;
    cursor += '"';
    CursorStatements statements;
    statements.open = "DECLARE ";
    statements.open += cursor;
    statements.open += " NO SCROLL CURSOR WITH HOLD FOR ";
    statements.open += query;
    statements.fetch = "FETCH FORWARD " + std::to_string(kCursorPieceRows) + " FROM ";
    statements.fetch += cursor;
    statements.close = "CLOSE ";
    statements.close += cursor;
    statements.piece_rows = kCursorPieceRows;
    return statements;
  }

  std::optional<bool> MayUpdate(Connection& connection, std::string_view table,
                                std::string_view column) const override {
    // Unquoted names are folded to lower case when tables are made; a column name given as
    // text is not folded here, so it is asked in lower case.
    const Value parameters[] = {Value(table), Value(ToLowerAscii(column))};
    auto answer = connection
                      .Prepare(
                          "SELECT CASE WHEN has_column_privilege(?, ?, 'UPDATE') THEN 1 ELSE 0 "
                          "END AS May")
                      ->OpenRowSet(parameters);
    return !answer->eof() && answer->Field("May") == Value(1);
  }

  // psqlODBC hands a BOOLEAN over as the text '1'/'0' unless BoolsAsChar=0 is set; its type
  // name still says bool.
  std::string_view TextFlagTypeName() const override { return "bool"; }

  const LedgerDialect* Ledger() const override { return &PostgresLedger(); }

  std::optional<RunLockAnswer> TryRunLock(Connection& connection,
                                          std::string_view host) const override {
    const Value name[] = {Value(std::string(kRunLockName) + std::string(host))};
    connection.Prepare("SELECT set_config('application_name', ?, false) AS Name")->OpenRowSet(name);
    const std::string class_key = std::to_string(kRunLockClass);
    const std::string object_key = std::to_string(kRunLockObject);
    auto held = connection.OpenRowSet("SELECT CASE WHEN pg_try_advisory_lock(" + class_key + ", " +
                                      object_key + ") THEN 1 ELSE 0 END AS Held");
    if (!held->eof() && held->Field("Held") == Value(1)) return RunLockAnswer{true, ""};
    // A lock of two keys shows in pg_locks with objsubid 2.
    auto holder = connection.OpenRowSet(
        "SELECT a.application_name AS Holder FROM pg_locks l JOIN pg_stat_activity a ON a.pid = "
        "l.pid WHERE l.locktype = 'advisory' AND l.granted AND l.classid = " +
        class_key + " AND l.objid = " + object_key +
        " AND l.objsubid = 2 AND l.database = (SELECT oid FROM pg_database WHERE datname = "
        "current_database())");
    std::string who = holder->eof() ? "" : JoinText(holder->Field("Holder"));
    if (who.starts_with(kRunLockName)) who.erase(0, kRunLockName.size());
    return RunLockAnswer{false, who};
  }

  std::optional<bool> MayKeepLedger(Connection& connection) const override {
    auto answer = connection.OpenRowSet(
        "SELECT CASE WHEN has_table_privilege('corvaneledger', 'SELECT') AND "
        "has_table_privilege('corvaneledger', 'INSERT') AND "
        "has_table_privilege('corvaneledger', 'UPDATE') THEN 1 ELSE 0 END AS May");
    return !answer->eof() && answer->Field("May") == Value(1);
  }
};

}  // namespace

const EngineProfile& PostgresProfile() {
  static const Postgres profile;
  return profile;
}

}  // namespace corvane::data
