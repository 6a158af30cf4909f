#include "data/odbc/odbc_session.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

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

}  // namespace

OdbcSession::OdbcSession(const std::string& connection_string, std::chrono::seconds timeout,
                         std::chrono::seconds statement_limit, WaitWatch* watch)
    : statement_limit_(statement_limit),
      watch_(watch),
      environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV),
      connection_(SQL_HANDLE_DBC, Odbc3(environment_).get(), SQL_HANDLE_ENV) {
  SetTimeout(connection_, SQL_ATTR_LOGIN_TIMEOUT, EngineLimit(timeout),
             "setting the login timeout");
  SetTimeout(connection_, SQL_ATTR_CONNECTION_TIMEOUT, timeout, "setting the connection timeout");
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
  const bool sql_server = dbms_name_.find("SQL Server") != std::string::npos;
  dialect_ = Dialect{.has_top = sql_server, .iso_date_literals = dbms_name_ == "SQLite"};
  const BoundedWait wait = StatementWait();
  RunSessionSetup(timeout);
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
    ThrowDatabaseError(kObjectClosed, "Operation is not allowed: the connection is closed");
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

void OdbcSession::RunSessionSetup(std::chrono::seconds timeout) {
  // Date literals of the queries are US-English short dates; the server must read them as
  // month-day-year whatever the client environment (PGDATESTYLE, a login's language) says.
  // A row that another client holds locked (a mark's UPDATE) is waited for as long as a busy
  // SQLite file, then the statement fails: both servers would otherwise wait for ever.
  // A statement is ended by the server a margin before the program's own limit, so a live
  // server reports its own error first.
  const std::string lock_ms = std::to_string(std::max<long long>(timeout.count(), 1) * 1000);
  const std::string statement_ms = std::to_string(EngineLimit(statement_limit_).count() * 1000);
  std::vector<std::string> setup;
  if (dbms_name_ == "PostgreSQL") {
    setup = {"SET DateStyle = 'ISO, MDY'", "SET lock_timeout = " + lock_ms,
             "SET statement_timeout = " + statement_ms};
  }
  if (dialect_.has_top) setup = {"SET DATEFORMAT mdy", "SET LOCK_TIMEOUT " + lock_ms};
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

}  // namespace corvane::data
