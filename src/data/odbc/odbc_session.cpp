#include "data/odbc/odbc_session.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/ascii.h"
#include "data/connection.h"
#include "data/data_error.h"

namespace corvane::data {

namespace {

// Allocated here and not in the member initializer: ODBC 3 behaviour must be asked for before
// a connection handle can be made.
OdbcHandle& Odbc3(OdbcHandle& environment) {
  environment.Check(
      SQLSetEnvAttr(environment.get(), SQL_ATTR_ODBC_VERSION,
                    reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0),
      "asking for ODBC 3 behaviour");
  return environment;
}

std::string InfoText(const OdbcHandle& connection, SQLUSMALLINT what) {
  SQLWCHAR text[256] = {};
  SQLSMALLINT length = 0;
  connection.Check(SQLGetInfoW(connection.get(), what, text, sizeof text, &length),
                   "asking the driver about the server");
  const auto chars = std::min<std::size_t>(
      static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR),
      std::size(text) - 1);
  return FromOdbcText(text, chars);
}

void SetTimeout(const OdbcHandle& connection, SQLINTEGER attribute, std::chrono::seconds timeout,
                std::string_view what) {
  const auto seconds = static_cast<std::uintptr_t>(std::max<long long>(timeout.count(), 1));
  const SQLRETURN ret = SQLSetConnectAttrW(connection.get(), attribute,
                                           reinterpret_cast<SQLPOINTER>(seconds), SQL_IS_UINTEGER);
  connection.Check(ret, what);
}

bool Has(const std::string& text, std::string_view part) {
  return ToLowerAscii(text).find(part) != std::string::npos;
}

}  // namespace

OdbcSession::OdbcSession(const std::string& connection_string, std::chrono::seconds timeout,
                         std::chrono::seconds statement_limit, WaitWatch* watch, bool read_only)
    : statement_limit_(statement_limit),
      watch_(watch),
      environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV),
      connection_(SQL_HANDLE_DBC, Odbc3(environment_).get(), SQL_HANDLE_ENV) {
  SetTimeout(connection_, SQL_ATTR_LOGIN_TIMEOUT, EngineLimit(timeout),
             "setting the login timeout");
  SetTimeout(connection_, SQL_ATTR_CONNECTION_TIMEOUT, timeout, "setting the connection timeout");
  if (read_only) {
    // A hint some drivers enforce and others ignore (or refuse): the session setup below is
    // what holds on the servers we know.
    (void)SQLSetConnectAttrW(connection_.get(), SQL_ATTR_ACCESS_MODE,
                             reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), SQL_IS_UINTEGER);
  }
  std::vector<SQLWCHAR> text = ToOdbcText(connection_string);
  SQLWCHAR out[1024] = {};
  SQLSMALLINT out_length = 0;
  {
    const BoundedWait wait(watch_, timeout, "connecting to the database");
    const SQLRETURN ret = SQLDriverConnectW(connection_.get(), nullptr, text.data(), SQL_NTS, out,
                                            static_cast<SQLSMALLINT>(std::size(out)), &out_length,
                                            SQL_DRIVER_NOPROMPT);
    connection_.Check(ret, "connecting to the database");
  }
  login_.connection = connection_.get();
  login_.connected = true;
  dbms_name_ = InfoText(connection_, SQL_DBMS_NAME);
  quote_ = InfoText(connection_, SQL_IDENTIFIER_QUOTE_CHAR);
  if (quote_ == " ") quote_.clear();  // the driver quotes nothing
  if (Has(dbms_name_, "sql server")) {
    server_ = Server::kSqlServer;
  } else if (dbms_name_ == "PostgreSQL") {
    server_ = Server::kPostgres;
  } else if (dbms_name_ == "SQLite") {
    server_ = Server::kSqlite;
  } else if (Has(dbms_name_, "mariadb") || Has(dbms_name_, "mysql")) {
    // A MySQL driver may call a MariaDB server MySQL; the version text tells them apart.
    const bool mariadb =
        Has(dbms_name_, "mariadb") || Has(InfoText(connection_, SQL_DBMS_VER), "mariadb");
    server_ = mariadb ? Server::kMariaDb : Server::kMySql;
  }
  const bool mysql_family = server_ == Server::kMariaDb || server_ == Server::kMySql;
  dialect_ = Dialect{.has_top = server_ == Server::kSqlServer,
                     .iso_date_literals = server_ == Server::kSqlite || mysql_family,
                     .case_sensitive_names = mysql_family};
  const BoundedWait wait = StatementWait();
  RunSessionSetup(timeout, read_only);
}

OdbcSession::~OdbcSession() {
  Close();
}

void OdbcSession::Close() noexcept {
  if (login_.connected) SQLDisconnect(connection_.get());
  login_.connected = false;
}

void OdbcSession::CheckOpen() const {
  if (!login_.connected)
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
}

std::vector<std::string> OdbcSession::InstalledDrivers() {
  OdbcHandle environment(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV);
  Odbc3(environment);
  std::vector<std::string> names;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (true) {
    SQLWCHAR name[256] = {};
    SQLWCHAR attributes[1024] = {};
    SQLSMALLINT name_length = 0, attributes_length = 0;
    const SQLRETURN ret = SQLDriversW(
        environment.get(), direction, name, static_cast<SQLSMALLINT>(std::size(name)), &name_length,
        attributes, static_cast<SQLSMALLINT>(std::size(attributes)), &attributes_length);
    if (ret == SQL_NO_DATA) break;
    environment.Check(ret, "listing the installed ODBC drivers");
    names.push_back(FromOdbcText(
        name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(name_length, 0)),
                                    std::size(name) - 1)));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

void OdbcSession::RunSessionSetup(std::chrono::seconds timeout, bool read_only) {
  // Date literals of the queries are US-English short dates; the server must read them as
  // month-day-year whatever the client environment (PGDATESTYLE, a login's language) says.
  // A row that another client holds locked (a mark's UPDATE) is waited for as long as a busy
  // SQLite file, then the statement fails: both servers would otherwise wait for ever.
  // A statement is ended by the server a margin before the program's own limit, so a live
  // server reports its own error first.
  // MariaDB and MySQL read no US-English dates at all: the dialect rewrites them instead. Their
  // row locks (InnoDB) and table locks (metadata) have limits of their own.
  const long long lock_s = std::max<long long>(timeout.count(), 1);
  const std::string lock_ms = std::to_string(lock_s * 1000);
  const long long statement_s = EngineLimit(statement_limit_).count();
  const std::string statement_ms = std::to_string(statement_s * 1000);
  const std::string mysql_locks =
      "SET SESSION innodb_lock_wait_timeout = " + std::to_string(lock_s) +
      ", lock_wait_timeout = " + std::to_string(lock_s);
  std::vector<std::string> setup;
  switch (server_) {
    case Server::kPostgres:
      setup = {"SET DateStyle = 'ISO, MDY'", "SET lock_timeout = " + lock_ms,
               "SET statement_timeout = " + statement_ms};
      break;
    case Server::kSqlServer:
      setup = {"SET DATEFORMAT mdy", "SET LOCK_TIMEOUT " + lock_ms};
      break;
    case Server::kMariaDb:
      setup = {mysql_locks + ", max_statement_time = " + std::to_string(statement_s)};
      break;
    case Server::kMySql:  // its limit covers SELECT statements only
      setup = {mysql_locks + ", max_execution_time = " + statement_ms};
      break;
    case Server::kSqlite:
    case Server::kOther:
      break;
  }
  if (read_only && server_ == Server::kPostgres) {
    setup.push_back("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
  } else if (read_only && (server_ == Server::kMariaDb || server_ == Server::kMySql)) {
    setup.push_back("SET SESSION TRANSACTION READ ONLY");
  }
  for (const std::string& statement : setup) NewStatement()->Execute(statement, {});
}

std::unique_ptr<OdbcStatement> OdbcSession::NewStatement() {
  CheckOpen();
  return std::make_unique<OdbcStatement>(connection_, EngineLimit(statement_limit_));
}

std::string OdbcSession::Quote(const std::string& name) const {
  if (quote_.empty()) return name;
  std::string out = quote_;
  for (char c : name) {
    out += c;
    if (std::string(1, c) == quote_) out += c;
  }
  return out + quote_;
}

const std::vector<std::string>& OdbcSession::PrimaryKey(const std::string& schema,
                                                        const std::string& table) {
  const auto id = std::make_pair(schema, table);
  if (const auto found = primary_keys_.find(id); found != primary_keys_.end()) return found->second;
  const BoundedWait wait = StatementWait();
  auto statement = NewStatement();
  std::vector<SQLWCHAR> schema_text = ToOdbcText(schema);
  std::vector<SQLWCHAR> table_text = ToOdbcText(table);
  statement->handle().Check(
      SQLPrimaryKeysW(statement->handle().get(), nullptr, 0,
                      schema.empty() ? nullptr : schema_text.data(), schema.empty() ? 0 : SQL_NTS,
                      table_text.data(), SQL_NTS),
      "asking for the primary key of " + table);
  // Result columns: 4 COLUMN_NAME, 5 KEY_SEQ.
  static constexpr SQLUSMALLINT kColumns[] = {4, 5};
  auto rows = statement->ReadText(kColumns);
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return std::stoi(a[1].empty() ? "0" : a[1]) < std::stoi(b[1].empty() ? "0" : b[1]);
  });
  std::vector<std::string> key;
  for (const auto& row : rows) key.push_back(row[0]);
  return primary_keys_[id] = std::move(key);
}

std::optional<bool> OdbcSession::MayUpdate(std::string_view table, std::string_view column) {
  std::string query;
  std::vector<Value> parameters;
  if (server_ == Server::kPostgres) {
    // Unquoted names are folded to lower case when tables are made; a column name given as text
    // is not folded here, so it is asked in lower case.
    query = "SELECT CASE WHEN has_column_privilege(?, ?, 'UPDATE') THEN 1 ELSE 0 END";
    parameters = {Value(std::string(table)), Value(ToLowerAscii(column))};
  } else if (server_ == Server::kMariaDb || server_ == Server::kMySql) {
    // Granted to the login on every database, on this database, on the table or on the
    // column; or to a role the login has enabled.
    query =
        "SELECT COUNT(*) FROM ("
        "SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.USER_PRIVILEGES"
        " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.SCHEMA_PRIVILEGES"
        " WHERE TABLE_SCHEMA = DATABASE()"
        " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.TABLE_PRIVILEGES"
        " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ?"
        " UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.COLUMN_PRIVILEGES"
        " WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? AND COLUMN_NAME = ?) p"
        " WHERE p.PRIVILEGE_TYPE = 'UPDATE' AND (p.GRANTEE = CONCAT('''',"
        " SUBSTRING_INDEX(CURRENT_USER(), '@', 1), '''@''', SUBSTRING_INDEX(CURRENT_USER(), '@', -1),"
        " '''') OR p.GRANTEE IN (SELECT CONCAT('''', ROLE_NAME, '''')"
        " FROM information_schema.ENABLED_ROLES))";
    parameters = {Value(std::string(table)), Value(std::string(table)), Value(std::string(column))};
  } else {
    return std::nullopt;
  }
  const BoundedWait wait = StatementWait();
  auto statement = NewStatement();
  statement->Execute(query, parameters);
  static constexpr SQLUSMALLINT kAnswer[] = {1};
  const auto rows = statement->ReadText(kAnswer);
  return !rows.empty() && !rows[0][0].empty() && rows[0][0] != "0";
}

void OdbcSession::ReadFlagsAsBooleans(OdbcResult& result) {
  if (server_ != Server::kMariaDb && server_ != Server::kMySql) return;
  for (std::size_t i = 0; i < result.columns.size(); ++i) {
    const ColumnInfo& column = result.columns[i];
    if (result.sql_types[i] != SQL_TINYINT || column.base_table.empty()) continue;
    const auto& flags = FlagColumns(result.catalogs[i], column.base_table);
    const bool flag = std::any_of(flags.begin(), flags.end(), [&](const std::string& name) {
      return EqualsNoCase(name, column.base_column);
    });
    if (!flag) continue;
    for (auto& row : result.rows) {
      if (row[i].is_integer()) row[i] = Value(row[i].integer() != 0);
    }
  }
}

const std::vector<std::string>& OdbcSession::FlagColumns(const std::string& catalog,
                                                         const std::string& table) {
  const auto id = std::make_pair(catalog, table);
  if (const auto found = flag_columns_.find(id); found != flag_columns_.end()) {
    return found->second;
  }
  const BoundedWait wait = StatementWait();
  auto statement = NewStatement();
  std::vector<Value> parameters = {Value(table)};
  if (!catalog.empty()) parameters.emplace_back(catalog);
  statement->Execute(
      "SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_NAME = ? AND TABLE_SCHEMA "
      "= " +
          std::string(catalog.empty() ? "DATABASE()" : "?") +
          " AND DATA_TYPE = 'tinyint' AND COLUMN_TYPE LIKE 'tinyint(1)%'",
      parameters);
  static constexpr SQLUSMALLINT kName[] = {1};
  std::vector<std::string> names;
  for (auto& row : statement->ReadText(kName)) names.push_back(std::move(row[0]));
  return flag_columns_[id] = std::move(names);
}

}  // namespace corvane::data
