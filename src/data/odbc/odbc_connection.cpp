#include "data/odbc/odbc_connection.h"

#include "base/ascii.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "data/odbc/odbc_row_set.h"
#include "data/odbc/oledb_translation.h"

namespace corvane::data {

namespace {

// psqlODBC over TCP: keep-alive probes notice a server host that vanished mid-statement long
// before the system's two hours, unless the string says otherwise.
std::string WithKeepalive(const std::string& connection_string) {
  const ConnectionString parsed = ConnectionString::Parse(connection_string);
  const std::string driver = ToLowerAscii(parsed.Find("Driver").value_or(""));
  const bool psqlodbc =
      driver.find("postgres") != std::string::npos || driver.find("psqlodbc") != std::string::npos;
  if (!psqlodbc || parsed.Find("KeepaliveTime") || parsed.Find("pqopt")) return connection_string;
  return connection_string + "KeepaliveTime=30;KeepaliveInterval=10;";
}

}  // namespace

OdbcConnection::OdbcConnection(const ConnectOptions& options) {
  std::string connection_string = WithoutProgramParts(options.connection_string);
  if (IsOleDbString(connection_string)) {
    connection_string = TranslateOleDbToOdbc(
        connection_string, ChooseSqlServerDriver(OdbcSession::InstalledDrivers()));
  }
  session_ = std::make_shared<OdbcSession>(WithKeepalive(connection_string), options.timeout,
                                           options.statement_limit, options.watch);
}

OdbcConnection::~OdbcConnection() {
  if (session_) session_->Close();
}

std::unique_ptr<RowSet> OdbcConnection::OpenRowSet(std::string_view query,
                                                   std::span<const Value> parameters) {
  if (!session_) {
    ThrowDatabaseError(kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  const std::string sql = AdaptQuery(query, session_->dialect());
  const BoundedWait wait = session_->StatementWait();
  auto statement = session_->NewStatement();
  statement->Execute(sql, parameters);
  return std::make_unique<OdbcRowSet>(session_, statement->ReadAll());
}

void OdbcConnection::Close() {
  if (!session_) return;
  session_->Close();
  session_.reset();
}

std::string OdbcConnection::EngineName() const {
  return session_ ? session_->dbms_name() : std::string("ODBC (closed)");
}

}  // namespace corvane::data
