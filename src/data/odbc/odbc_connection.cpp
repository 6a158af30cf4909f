#include "data/odbc/odbc_connection.h"

#include "base/ascii.h"
#include "data/data_error.h"
#include "data/odbc/odbc_row_set.h"

namespace corvane::data {

namespace {

class OdbcPrepared final : public PreparedStatement {
 public:
  OdbcPrepared(std::shared_ptr<OdbcSession> session, const std::string& sql)
      : session_(std::move(session)), prepared_(std::make_shared<OdbcPreparedStatement>()) {
    const BoundedWait wait = session_->StatementWait();
    prepared_->statement = session_->NewStatement();
    prepared_->statement->Prepare(sql);
  }

  std::unique_ptr<RowSet> OpenRowSet(std::span<const Value> parameters) override {
    return OpenPreparedRowSet(session_, prepared_, parameters);
  }

  long long Execute(std::span<const Value> parameters) override {
    if (prepared_->reader != nullptr) prepared_->reader->TakeRemainingRows();
    const BoundedWait wait = session_->StatementWait();
    session_->CheckOpen();
    OdbcStatement& statement = *prepared_->statement;
    statement.Execute(parameters);
    const long long changed = statement.RowCount();
    statement.CloseCursor();
    return changed;
  }

 private:
  std::shared_ptr<OdbcSession> session_;
  std::shared_ptr<OdbcPreparedStatement> prepared_;
};

}  // namespace

ConnectionString DriverParts(const ConnectionString& read) {
  ConnectionString parts(Grammar::kOdbc, read.parts());
  if (read.grammar() == Grammar::kOleDb) {
    const std::string provider = read.Find("Provider").value_or("MSDASQL");
    if (!EqualsNoCase(provider, "MSDASQL") && !EqualsNoCase(provider, "MSDASQL.1")) {
      ThrowDatabaseError(errnum::kConnectionStringError,
                         "The OLE DB provider '" + provider +
                             "' is not supported; use an ODBC connection string or "
                             "Provider=SQLite");
    }
    parts.Remove("Provider");
  }
  return parts;
}

OdbcConnection::OdbcConnection(const ConnectionString& odbc, const ConnectOptions& options)
    : session_(std::make_shared<OdbcSession>(odbc.Write(Grammar::kOdbc), options)) {}

OdbcConnection::~OdbcConnection() {
  if (session_) session_->Close();
}

const OdbcSession& OdbcConnection::Open() const {
  if (!session_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  return *session_;
}

std::unique_ptr<RowSet> OdbcConnection::OpenRowSet(std::string_view query,
                                                   std::span<const Value> parameters) {
  const std::string sql = Open().profile().AdaptQuery(query);
  return OpenOdbcRowSet(session_, sql, parameters);
}

std::unique_ptr<PreparedStatement> OdbcConnection::Prepare(std::string_view sql) {
  return std::make_unique<OdbcPrepared>(session_, Open().profile().AdaptQuery(sql));
}

void OdbcConnection::Close() {
  if (!session_) return;
  session_->Close();
  session_.reset();
}

std::optional<bool> OdbcConnection::MayUpdate(std::string_view table, std::string_view column) {
  return Open().profile().MayUpdate(*this, table, column);
}

const EngineProfile& OdbcConnection::profile() const {
  return Open().profile();
}

std::string OdbcConnection::EngineName() const {
  return session_ ? session_->dbms_name() : std::string("ODBC (closed)");
}

}  // namespace corvane::data
