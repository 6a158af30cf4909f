#include "data/odbc/odbc_session.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/ascii.h"
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

void SetAttribute(const OdbcHandle& connection, SQLINTEGER attribute, std::uintptr_t value,
                  std::string_view what) {
  connection.Check(SQLSetConnectAttrW(connection.get(), attribute,
                                      reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER),
                   what);
}

std::uintptr_t Seconds(std::chrono::seconds timeout) {
  return static_cast<std::uintptr_t>(std::max<long long>(timeout.count(), 1));
}

}  // namespace

OdbcSession::OdbcSession(const std::string& connection_string, const ConnectOptions& options)
    : statement_limit_(options.statement_limit),
      watch_(options.watch),
      environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE, SQL_HANDLE_ENV),
      connection_(SQL_HANDLE_DBC, Odbc3(environment_).get(), SQL_HANDLE_ENV) {
  SetAttribute(connection_, SQL_ATTR_LOGIN_TIMEOUT, Seconds(EngineLimit(options.timeout)),
               "setting the login timeout");
  SetAttribute(connection_, SQL_ATTR_CONNECTION_TIMEOUT, Seconds(options.timeout),
               "setting the connection timeout");
  if (options.read_only) {
    // A hint some drivers enforce and others ignore (or refuse): the profile's read-only look
    // is what holds on the servers we know.
    (void)SQLSetConnectAttrW(connection_.get(), SQL_ATTR_ACCESS_MODE,
                             reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), SQL_IS_UINTEGER);
  }
  std::vector<SQLWCHAR> text = ToOdbcText(connection_string);
  SQLWCHAR out[1024] = {};
  SQLSMALLINT out_length = 0;
  {
    const BoundedWait wait(watch_, options.timeout, "connecting to the database");
    const SQLRETURN ret = SQLDriverConnectW(connection_.get(), nullptr, text.data(), SQL_NTS, out,
                                            static_cast<SQLSMALLINT>(std::size(out)), &out_length,
                                            SQL_DRIVER_NOPROMPT);
    connection_.Check(ret, "connecting to the database");
  }
  login_.connection = connection_.get();
  login_.connected = true;
  dbms_name_ = InfoText(connection_, SQL_DBMS_NAME);
  profile_ = &ProfileForServer(dbms_name_, InfoText(connection_, SQL_DBMS_VER));
  quote_ = InfoText(connection_, SQL_IDENTIFIER_QUOTE_CHAR);
  if (quote_ == " ") quote_.clear();  // the driver quotes nothing
  const BoundedWait wait = StatementWait();
  SetUp(options);
}

OdbcSession::~OdbcSession() {
  Close();
}

void OdbcSession::SetUp(const ConnectOptions& options) {
  const SessionLimits limits{std::max(options.timeout, std::chrono::seconds(1)),
                             EngineLimit(statement_limit_)};
  for (const std::string& statement : profile_->SessionSetup(limits)) {
    NewStatement()->ExecuteDirect(statement, {});
  }
  if (!options.read_only) return;
  const ReadOnlyLook look = profile_->ReadOnlyLookSetup();
  if (look.one_transaction) {
    SetAttribute(connection_, SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF,
                 "beginning the read-only transaction");
  }
  for (const std::string& statement : look.statements) {
    NewStatement()->ExecuteDirect(statement, {});
  }
}

void OdbcSession::Close() noexcept {
  writes_.clear();
  if (!login_.connected) return;
  // A read-only look's transaction, if any, ends with nothing to keep.
  (void)SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
  SQLDisconnect(connection_.get());
  login_.connected = false;
}

void OdbcSession::CheckOpen() const {
  if (!login_.connected) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
}

std::vector<std::string> InstalledOdbcDrivers() {
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

std::vector<bool> OdbcSession::TinyIntFlags(const OdbcColumns& description) {
  std::vector<bool> flags(description.columns.size(), false);
  for (std::size_t i = 0; i < flags.size(); ++i) {
    const ColumnInfo& column = description.columns[i];
    if (description.sql_types[i] != SQL_TINYINT || column.base_table.empty()) continue;
    const auto& names = TinyIntFlagColumns(description.catalogs[i], column.base_table);
    flags[i] = std::any_of(names.begin(), names.end(), [&](const std::string& name) {
      return EqualsNoCase(name, column.base_column);
    });
  }
  return flags;
}

const std::vector<std::string>& OdbcSession::TinyIntFlagColumns(const std::string& catalog,
                                                                const std::string& table) {
  static const std::vector<std::string> kNone;
  const std::optional<BoundQuery> question = profile_->TinyIntFlagsQuestion(catalog, table);
  if (!question) return kNone;
  const auto id = std::make_pair(catalog, table);
  if (const auto found = flag_columns_.find(id); found != flag_columns_.end()) {
    return found->second;
  }
  const BoundedWait wait = StatementWait();
  auto statement = NewStatement();
  statement->ExecuteDirect(question->sql, question->parameters);
  static constexpr SQLUSMALLINT kName[] = {1};
  std::vector<std::string> names;
  for (auto& row : statement->ReadText(kName)) names.push_back(std::move(row[0]));
  return flag_columns_[id] = std::move(names);
}

long long OdbcSession::ExecuteWrite(const UpdateStatement& write) {
  std::unique_ptr<OdbcStatement>& statement = writes_[write.sql];
  const BoundedWait wait = StatementWait();
  if (!statement) {
    auto prepared = NewStatement();
    prepared->Prepare(write.sql);
    statement = std::move(prepared);
  }
  CheckOpen();
  statement->Execute(write.parameters, write.bit_targets);
  const long long changed = statement->RowCount();
  statement->CloseCursor();
  return changed;
}

std::string OdbcSession::NewCursorName() {
  return "corvane_rows_" + std::to_string(++cursors_);
}

}  // namespace corvane::data
