#include "data/odbc/odbc_connection.h"

#include <algorithm>
#include <initializer_list>

#include "base/ascii.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "data/odbc/odbc_row_set.h"
#include "data/odbc/oledb_translation.h"

namespace corvane::data {

namespace {

// Driver options the program relies on, unless the string sets them itself. psqlODBC over TCP:
// keep-alive probes notice a server host that vanished mid-statement long before the system's
// two hours. MariaDB's and MySQL's drivers: utf8mb4 on the wire, so that every character (an
// emoji too) survives both ways; a narrower character set turns the rest into '?'.
std::string WithDriverDefaults(const std::string& connection_string) {
  const ConnectionString parsed = ConnectionString::Parse(connection_string);
  const std::string driver = ToLowerAscii(parsed.Find("Driver").value_or(""));
  auto names = [&](std::initializer_list<std::string_view> parts) {
    return std::any_of(parts.begin(), parts.end(), [&](std::string_view part) {
      return driver.find(part) != std::string::npos;
    });
  };
  if (names({"postgres", "psqlodbc"}) && !parsed.Find("KeepaliveTime") && !parsed.Find("pqopt")) {
    return connection_string + "KeepaliveTime=30;KeepaliveInterval=10;";
  }
  if (names({"mariadb", "maodbc", "mysql", "myodbc"}) && !parsed.Find("CHARSET")) {
    return connection_string + "CHARSET=utf8mb4;";
  }
  return connection_string;
}

}  // namespace

OdbcConnection::OdbcConnection(const ConnectOptions& options) {
  std::string connection_string = WithoutProgramParts(options.connection_string);
  if (IsOleDbString(connection_string)) {
    connection_string = TranslateOleDbToOdbc(
        connection_string, ChooseSqlServerDriver(OdbcSession::InstalledDrivers()));
  }
  session_ = std::make_shared<OdbcSession>(WithDriverDefaults(connection_string), options.timeout,
                                           options.statement_limit, options.watch,
                                           options.read_only);
}

OdbcConnection::~OdbcConnection() {
  if (session_) session_->Close();
}

std::unique_ptr<RowSet> OdbcConnection::OpenRowSet(std::string_view query,
                                                   std::span<const Value> parameters) {
  if (!session_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  const std::string sql = AdaptQuery(query, session_->dialect());
  const BoundedWait wait = session_->StatementWait();
  auto statement = session_->NewStatement();
  statement->Execute(sql, parameters);
  OdbcResult result = statement->ReadAll();
  statement.reset();  // the catalog lookup below runs a statement of its own
  session_->ReadFlagsAsBooleans(result);
  return std::make_unique<OdbcRowSet>(session_, std::move(result));
}

void OdbcConnection::Close() {
  if (!session_) return;
  session_->Close();
  session_.reset();
}

std::optional<bool> OdbcConnection::MayUpdate(std::string_view table, std::string_view column) {
  if (!session_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  return session_->MayUpdate(table, column);
}

std::string OdbcConnection::EngineName() const {
  return session_ ? session_->dbms_name() : std::string("ODBC (closed)");
}

}  // namespace corvane::data
