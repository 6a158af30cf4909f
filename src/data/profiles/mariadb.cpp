// MariaDB and MySQL, through MariaDB Connector/ODBC (or MySQL's driver).
#include "base/text_form.h"
#include "data/odbc/odbc_connection.h"
#include "data/profiles/profiles.h"
#include "data/sql_text.h"

namespace corvane::data {

namespace {

// A grant row of information_schema's privilege tables that is the login's own, or a role's
// the login has enabled.
constexpr std::string_view kGrantedToThisLogin =
    "(p.GRANTEE = CONCAT('''', SUBSTRING_INDEX(CURRENT_USER(), '@', 1), '''@''', "
    "SUBSTRING_INDEX(CURRENT_USER(), '@', -1), '''') OR p.GRANTEE IN (SELECT CONCAT('''', "
    "ROLE_NAME, '''') FROM information_schema.ENABLED_ROLES))";

// The ledger's run lock: a user lock (GET_LOCK) named after the database (user locks are the
// server's, not a database's), dropped by the server when the session ends. Its holder writes
// its host into the ledger's row ('run', 'lock') in the statement that takes the lock: that
// UPDATE locks the row before it asks for the lock, so a run that loses waits for the winner's
// statement and reads the winner's host, never the one before.
constexpr std::string_view kRunLockName = "CONCAT('corvane-email-handler:', MD5(DATABASE()))";

// No WITH that writes, and a multi-row upsert would mix the two counts: a record and a claim
// are two statements.
const LedgerDialect& MySqlLedger() {
  static const LedgerDialect dialect = MakeLedgerDialect(
      "ledger-mariadb.sql",
      "SELECT COUNT(*) AS Found FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() "
      "AND TABLE_NAME = 'CorvaneLedger'",
      "NOW()", "NOW() + INTERVAL ? SECOND", " ON DUPLICATE KEY UPDATE Pass = Pass");
  return dialect;
}

class MySqlFamily final : public EngineProfile {
 public:
  explicit MySqlFamily(bool mariadb) : mariadb_(mariadb) {}

  std::string_view name() const override { return mariadb_ ? "MariaDB" : "MySQL"; }

  // Both servers' drivers read the same string; the MariaDB profile claims them all, and the
  // server tells which it is once connected.
  bool Claims(const ConnectionString& read) const override {
    return mariadb_ && NamesOdbcDriver(read, {"mariadb", "maodbc", "mysql", "myodbc"});
  }

  std::unique_ptr<Connection> Open(const ConnectionString& read,
                                   const ConnectOptions& options) const override {
    ConnectionString parts = DriverParts(read);
    // utf8mb4 on the wire, so that every character (an emoji too) survives both ways; a
    // narrower character set turns the rest into '?'.
    AddUnlessSet(parts, "CHARSET", "utf8mb4");
    return std::make_unique<OdbcConnection>(parts, options);
  }

  bool IsServer(std::string_view dbms_name, std::string_view dbms_version) const override {
    // A MySQL driver may call a MariaDB server MySQL; the version text tells them apart.
    const bool mariadb = HasNoCase(dbms_name, "mariadb") ||
                         (HasNoCase(dbms_name, "mysql") && HasNoCase(dbms_version, "mariadb"));
    return mariadb_ ? mariadb : HasNoCase(dbms_name, "mysql") && !mariadb;
  }

  std::string AdaptQuery(std::string_view sql) const override {
    // No TOP; no date literal but ISO; table names and aliases case-sensitive on Linux.
    return QualifiersInDeclaredCase(UsDateLiteralsToIso(TopToLimit(sql)));
  }

  std::vector<std::string> SessionSetup(const SessionLimits& limits) const override {
    // Row locks (InnoDB) and table locks (metadata) have limits of their own; the statement
    // limit is MariaDB's max_statement_time, or MySQL's max_execution_time (SELECT only).
    const std::string lock = std::to_string(limits.lock_wait.count());
    const std::string statement_limit =
        mariadb_ ? "max_statement_time = " + std::to_string(limits.statement.count())
                 : "max_execution_time = " + std::to_string(limits.statement.count() * 1000);
    return {"SET SESSION innodb_lock_wait_timeout = " + lock + ", lock_wait_timeout = " + lock +
            ", " + statement_limit};
  }

  ReadOnlyLook ReadOnlyLookSetup() const override {
    return {true, {"START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"}};
  }

  // Connector/ODBC stores each result whole. It has no server-side cursor (3.1), and streaming
  // (NO_CACHE) stores the rest of a result anyway as soon as a second statement runs.
  ResultHolding result_holding() const override { return ResultHolding::kDriverHoldsResult; }

  std::optional<bool> MayUpdate(Connection& connection, std::string_view table,
                                std::string_view column) const override {
    // Granted to the login on every database, on this database, on the table or on the
    // column; or to a role the login has enabled.
    const Value parameters[] = {Value(table), Value(table), Value(column)};
    auto answer =
        connection
            .Prepare(
                "SELECT COUNT(*) AS Grants FROM ("
                "SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.USER_PRIVILEGES"
                " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM "
                "information_schema.SCHEMA_PRIVILEGES"
                " WHERE TABLE_SCHEMA = DATABASE()"
                " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.TABLE_PRIVILEGES"
                " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ?"
                " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM "
                "information_schema.COLUMN_PRIVILEGES"
                " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? AND COLUMN_NAME = ?) p"
                " WHERE p.PRIVILEGE_TYPE = 'UPDATE' AND " +
                std::string(kGrantedToThisLogin))
            ->OpenRowSet(parameters);
    return !answer->eof() && answer->Field("Grants") != Value(0);
  }

  const LedgerDialect* Ledger() const override { return &MySqlLedger(); }

  std::optional<RunLockAnswer> TryRunLock(Connection& connection,
                                          std::string_view host) const override {
    const Value holder[] = {Value(host)};
    // The row is made by the first run that asks, and then only ever changed.
    connection
        .Prepare(
            "INSERT INTO CorvaneLedger (Pass, AlertKey, AlertDay, Recipients, State, Host, "
            "ClaimedAt, ClaimedUntil) VALUES ('run', 'lock', CURRENT_DATE, '', 'claimed', ?, "
            "NOW(), NOW()) ON DUPLICATE KEY UPDATE Pass = Pass")
        ->Execute(holder);
    connection
        .Prepare(
            "UPDATE CorvaneLedger SET Host = ?, AlertDay = CURRENT_DATE, ClaimedAt = NOW(), "
            "ClaimedUntil = NOW() WHERE Pass = 'run' AND AlertKey = 'lock' AND GET_LOCK(" +
            std::string(kRunLockName) + ", 0) = 1")
        ->Execute(holder);
    auto answer = connection.OpenRowSet(
        "SELECT CASE WHEN IS_USED_LOCK(" + std::string(kRunLockName) +
        ") = CONNECTION_ID() THEN 1 ELSE 0 END AS Held, Host FROM CorvaneLedger WHERE Pass = "
        "'run' AND AlertKey = 'lock'");
    if (answer->eof()) return RunLockAnswer{};
    return RunLockAnswer{answer->Field("Held") == Value(1), JoinText(answer->Field("Host"))};
  }

  std::optional<bool> MayKeepLedger(Connection& connection) const override {
    auto answer = connection.OpenRowSet(
        "SELECT COUNT(DISTINCT p.PRIVILEGE_TYPE) AS Granted FROM ("
        "SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.USER_PRIVILEGES"
        " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.SCHEMA_PRIVILEGES"
        " WHERE TABLE_SCHEMA = DATABASE()"
        " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.TABLE_PRIVILEGES"
        " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = 'CorvaneLedger') p"
        " WHERE p.PRIVILEGE_TYPE IN ('SELECT', 'INSERT', 'UPDATE') AND " +
        std::string(kGrantedToThisLogin));
    return !answer->eof() && answer->Field("Granted") == Value(3);
  }

  // BOOLEAN is TINYINT(1), which the drivers describe exactly as any TINYINT.
  std::optional<BoundQuery> TinyIntFlagsQuestion(std::string_view catalog,
                                                 std::string_view table) const override {
    BoundQuery question{
        "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_NAME = ? AND "
        "TABLE_SCHEMA = " +
            std::string(catalog.empty() ? "DATABASE()" : "?") +
            " AND DATA_TYPE = 'tinyint' AND COLUMN_TYPE LIKE 'tinyint(1)%'",
        {Value(table)}};
    if (!catalog.empty()) question.parameters.emplace_back(catalog);
    return question;
  }

 private:
  bool mariadb_;
};

}  // namespace

const EngineProfile& MariaDbProfile() {
  static const MySqlFamily profile(true);
  return profile;
}

const EngineProfile& MySqlProfile() {
  static const MySqlFamily profile(false);
  return profile;
}

}  // namespace corvane::data
