#include "data/odbc/odbc_connection.h"

#include "data/data_error.h"
#include "data/odbc/odbc_row_set.h"
#include "data/odbc/oledb_translation.h"

namespace corvane::data {

OdbcConnection::OdbcConnection(const ConnectOptions& options) {
  std::string connection_string = options.connection_string;
  if (IsOleDbString(connection_string)) {
    connection_string = TranslateOleDbToOdbc(
        connection_string, ChooseSqlServerDriver(OdbcSession::InstalledDrivers()));
  }
  session_ = std::make_shared<OdbcSession>(connection_string, options.timeout);
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
