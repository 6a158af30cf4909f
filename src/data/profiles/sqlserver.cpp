// Microsoft SQL Server, through Microsoft's ODBC driver or FreeTDS; and the OLE DB strings of
// existing installations that name it, which ODBC drivers do not read.
#include <algorithm>
#include <array>

#include "base/ascii.h"
#include "base/text_form.h"
#include "data/data_error.h"
#include "data/odbc/odbc_connection.h"
#include "data/profiles/profiles.h"

namespace corvane::data {

namespace {

bool IsSqlServerProvider(std::string_view provider) {
  // Version suffixes: "SQLOLEDB.1", "SQLNCLI11", "MSOLEDBSQL19".
  return StartsWithNoCase(provider, "sqloledb") || StartsWithNoCase(provider, "sqlncli") ||
         StartsWithNoCase(provider, "msoledbsql");
}

bool IsTrue(std::string_view value) {
  return EqualsNoCase(value, "true") || EqualsNoCase(value, "yes") || EqualsNoCase(value, "sspi") ||
         value == "1";
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view n) { return EqualsNoCase(name, n); });
}

[[noreturn]] void Fail(const std::string& message) {
  ThrowDatabaseError(errnum::kConnectionStringError, message);
}

// "host,port": FreeTDS wants the port in a part of its own.
void AddServer(ConnectionString& out, const std::string& server, bool freetds) {
  const std::size_t comma = server.find(',');
  if (freetds && comma != std::string::npos) {
    out.Add("Server", server.substr(0, comma));
    out.Add("Port", server.substr(comma + 1));
  } else {
    out.Add("Server", server);
  }
}

// The ledger on SQL Server (written from its documentation; no SQL Server runs in the tests).
const LedgerDialect& SqlServerLedger() {
  static const LedgerDialect dialect = [] {
    LedgerDialect d = MakeLedgerDialect(
        "ledger-sqlserver.sql",
        "SELECT COUNT(*) AS Found FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = "
        "SCHEMA_NAME() AND TABLE_NAME = 'CorvaneLedger'",
        "GETDATE()", "DATEADD(second, ?, GETDATE())", "");
    // No INSERT that leaves a present row alone: a MERGE, whose HOLDLOCK keeps the key's range
    // locked from the look to the insert, so two claims of one key cannot both miss the row.
    d.claim =
        "MERGE CorvaneLedger WITH (HOLDLOCK) AS t USING (SELECT ? AS Pass, ? AS AlertKey, ? AS "
        "AlertDay, ? AS Recipients, ? AS Host, ? AS Seconds) AS c ON t.Pass = c.Pass AND "
        "t.AlertKey = c.AlertKey WHEN NOT MATCHED THEN INSERT (Pass, AlertKey, AlertDay, "
        "Recipients, State, Host, ClaimedAt, ClaimedUntil) VALUES (c.Pass, c.AlertKey, "
        "c.AlertDay, c.Recipients, 'claimed', c.Host, GETDATE(), DATEADD(second, c.Seconds, "
        "GETDATE()));";
    return d;
  }();
  return dialect;
}

class SqlServer final : public EngineProfile {
 public:
  std::string_view name() const override { return "Microsoft SQL Server"; }

  bool Claims(const ConnectionString& read) const override {
    const auto provider = read.Find("Provider");
    return (provider && IsSqlServerProvider(*provider)) ||
           NamesOdbcDriver(read, {"sql server", "freetds"});
  }

  std::unique_ptr<Connection> Open(const ConnectionString& read,
                                   const ConnectOptions& options) const override {
    const auto provider = read.Find("Provider");
    if (provider && IsSqlServerProvider(*provider)) {
      return std::make_unique<OdbcConnection>(
          TranslateOleDbToOdbc(read, ChooseSqlServerDriver(InstalledOdbcDrivers())), options);
    }
    return std::make_unique<OdbcConnection>(DriverParts(read), options);
  }

  bool IsServer(std::string_view dbms_name, std::string_view) const override {
    return HasNoCase(dbms_name, "sql server");
  }

  // SQL Server writes TOP itself and reads the dates month-day-year (below).

  std::vector<std::string> SessionSetup(const SessionLimits& limits) const override {
    // The date reading is pinned whatever a login's language says; a locked row is waited for
    // as long as a busy SQLite file. The statement limit is the driver's query timeout.
    return {"SET DATEFORMAT mdy",
            "SET LOCK_TIMEOUT " + std::to_string(limits.lock_wait.count() * 1000)};
  }

  // A default result set occupies the connection until it is read to its end: each result is
  // read whole at once (ResultHolding's default).

  const LedgerDialect* Ledger() const override { return &SqlServerLedger(); }

  // An application lock of the session (sp_getapplock), dropped when the session ends. The
  // holder's host goes into the ledger's row ('run', 'lock') in the same transaction as the
  // lock, after an UPDATE that locks the row: a run that loses waits for the winner's
  // transaction and reads the winner's host.
  std::optional<RunLockAnswer> TryRunLock(Connection& connection,
                                          std::string_view host) const override {
    const Value holder[] = {Value(host), Value(host)};
    auto answer = connection.OpenRowSet(
        "SET NOCOUNT ON; DECLARE @granted int; BEGIN TRANSACTION; "
        "UPDATE CorvaneLedger SET Host = ?, ClaimedAt = GETDATE(), ClaimedUntil = GETDATE() "
        "WHERE Pass = 'run' AND AlertKey = 'lock'; "
        "IF @@ROWCOUNT = 0 INSERT INTO CorvaneLedger (Pass, AlertKey, AlertDay, Recipients, "
        "State, Host, ClaimedAt, ClaimedUntil) VALUES ('run', 'lock', CAST(GETDATE() AS DATE), "
        "'', 'claimed', ?, GETDATE(), GETDATE()); "
        "EXEC @granted = sp_getapplock @Resource = N'corvane-email-handler ledger', "
        "@LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; "
        "IF @granted >= 0 COMMIT TRANSACTION; ELSE ROLLBACK TRANSACTION; "
        "SELECT CASE WHEN @granted >= 0 THEN 1 ELSE 0 END AS Held, Host FROM CorvaneLedger "
        "WHERE Pass = 'run' AND AlertKey = 'lock'",
        holder);
    if (answer->eof()) return RunLockAnswer{};
    return RunLockAnswer{answer->Field("Held") == Value(1), JoinText(answer->Field("Host"))};
  }

  std::optional<bool> MayKeepLedger(Connection& connection) const override {
    auto answer = connection.OpenRowSet(
        "SELECT CASE WHEN HAS_PERMS_BY_NAME('CorvaneLedger', 'OBJECT', 'SELECT') = 1 AND "
        "HAS_PERMS_BY_NAME('CorvaneLedger', 'OBJECT', 'INSERT') = 1 AND "
        "HAS_PERMS_BY_NAME('CorvaneLedger', 'OBJECT', 'UPDATE') = 1 THEN 1 ELSE 0 END AS May");
    return !answer->eof() && answer->Field("May") == Value(1);
  }
};

}  // namespace

const EngineProfile& SqlServerProfile() {
  static const SqlServer profile;
  return profile;
}

std::string ChooseSqlServerDriver(const std::vector<std::string>& installed_drivers) {
  static constexpr std::array<std::string_view, 3> kPreferred = {
      "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "FreeTDS"};
  for (std::string_view wanted : kPreferred) {
    for (const auto& name : installed_drivers) {
      if (EqualsNoCase(name, wanted)) return name;
    }
  }
  return {};
}

ConnectionString TranslateOleDbToOdbc(const ConnectionString& read, const std::string& driver) {
  const std::string provider = read.Find("Provider").value_or("");
  if (driver.empty()) {
    Fail(
        "No SQL Server ODBC driver is installed (looked for 'ODBC Driver 18 for SQL Server', "
        "'ODBC Driver 17 for SQL Server' and 'FreeTDS') to open the " +
        provider + " connection string");
  }
  const bool freetds = EqualsNoCase(driver, "FreeTDS");
  const bool integrated = IsTrue(read.Find("Integrated Security").value_or("")) ||
                          IsTrue(read.Find("Trusted_Connection").value_or(""));
  ConnectionString out(Grammar::kOdbc, {{"Driver", driver}});
  std::optional<std::string> encrypt;
  std::optional<std::string> trust;
  for (const ConnectionPart& part : read.parts()) {
    const std::string_view name = part.name;
    const std::string& value = part.value;
    if (IsOneOf(name,
                {"Provider", "Integrated Security", "Trusted_Connection", "Persist Security Info",
                 "Connect Timeout", "Connection Timeout", "OLE DB Services",
                 "Use Procedure for Prepare", "Packet Size", "Auto Translate",
                 "MultipleActiveResultSets", "MARS Connection", "DataTypeCompatibility"})) {
      // Handled below or meaningless here: the login timeout is set by the program, and each
      // result is read whole, so no second active result set is needed.
      continue;
    }
    if (IsOneOf(name, {"Data Source", "Server", "Address", "Addr", "Network Address"})) {
      AddServer(out, value, freetds);
    } else if (IsOneOf(name, {"Initial Catalog", "Database"})) {
      out.Add("Database", value);
    } else if (IsOneOf(name, {"User ID", "UID", "User"})) {
      if (!integrated) out.Add("UID", value);
    } else if (IsOneOf(name, {"Password", "PWD"})) {
      if (!integrated) out.Add("PWD", value);
    } else if (IsOneOf(name, {"Application Name", "APP"})) {
      out.Add("APP", value);
    } else if (IsOneOf(name, {"Workstation ID", "WSID"})) {
      out.Add("WSID", value);
    } else if (IsOneOf(name, {"Current Language", "Language"})) {
      out.Add("Language", value);
    } else if (IsOneOf(name, {"Use Encryption for Data", "Encrypt"})) {
      encrypt = IsTrue(value) || EqualsNoCase(value, "mandatory") || EqualsNoCase(value, "strict")
                    ? "yes"
                    : "no";
    } else if (IsOneOf(name, {"Trust Server Certificate", "TrustServerCertificate"})) {
      trust = IsTrue(value) ? "yes" : "no";
    } else {
      Fail("The OLE DB connection string keyword '" + part.name +
           "' has no ODBC equivalent here; remove it or write an ODBC connection string");
    }
  }
  if (integrated) out.Add("Trusted_Connection", "yes");
  if (freetds) {
    if (encrypt == "yes") out.Add("Encryption", "require");
  } else {
    // The older providers do not encrypt unless asked (MSOLEDBSQL 19 does); ODBC driver 18
    // would otherwise insist on it.
    out.Add("Encrypt", encrypt.value_or(StartsWithNoCase(provider, "msoledbsql19") ? "yes" : "no"));
    if (trust) out.Add("TrustServerCertificate", *trust);
  }
  return out;
}

}  // namespace corvane::data
