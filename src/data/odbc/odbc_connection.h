// The ODBC engine, for every server an ODBC driver reaches (PostgreSQL through psqlODBC,
// MariaDB and MySQL through Connector/ODBC, SQL Server through Microsoft's driver or FreeTDS,
// and any other). It knows no server by name: the server's profile, found from what the driver
// reports once connected, says how to talk to it.
#pragma once

#include <memory>
#include <string>

#include "data/connection.h"
#include "data/connection_string.h"
#include "data/odbc/odbc_session.h"

namespace corvane::data {

class OdbcConnection : public Connection {
 public:
  // Connects with `odbc` written in the ODBC grammar. Fails with the driver's diagnostics when
  // the server cannot be reached within options.timeout or refuses the login.
  OdbcConnection(const ConnectionString& odbc, const ConnectOptions& options);
  ~OdbcConnection() override;

  std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                     std::span<const Value> parameters) override;
  std::unique_ptr<PreparedStatement> Prepare(std::string_view sql) override;
  void Close() override;
  std::string EngineName() const override;
  std::optional<bool> MayUpdate(std::string_view table, std::string_view column) override;
  const EngineProfile& profile() const override;

 private:
  const OdbcSession& Open() const;

  std::shared_ptr<OdbcSession> session_;
};

// The parts of a string an ODBC driver is given: an ODBC string as it is read; an OLE DB string
// for MSDASQL (ODBC through OLE DB, the provider when none is named) without its Provider part.
// Fails for another OLE DB provider ("not supported").
ConnectionString DriverParts(const ConnectionString& read);

}  // namespace corvane::data
