// The ODBC engine, for every connection string that is not SQLite's: PostgreSQL through
// psqlODBC, MariaDB and MySQL through Connector/ODBC, SQL Server through Microsoft's driver or
// FreeTDS. An OLE DB string for SQL Server is
// translated to the ODBC form for an installed SQL Server driver first.
#pragma once

#include <memory>
#include <string>

#include "data/connection.h"
#include "data/odbc/odbc_session.h"

namespace corvane::data {

class OdbcConnection : public Connection {
 public:
  // Fails with the driver's diagnostics when the server cannot be reached within
  // options.timeout or refuses the login.
  explicit OdbcConnection(const ConnectOptions& options);
  ~OdbcConnection() override;

  std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                     std::span<const Value> parameters) override;
  void Close() override;
  std::string EngineName() const override;
  std::optional<bool> MayUpdate(std::string_view table, std::string_view column) override;

 private:
  std::shared_ptr<OdbcSession> session_;
};

}  // namespace corvane::data
