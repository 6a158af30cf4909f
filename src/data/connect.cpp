#include "base/error.h"
#include "data/connection.h"
#include "data/odbc_connection.h"
#include "data/sqlite_connection.h"

namespace corvane::data {

std::unique_ptr<Connection> Connect(const ConnectOptions& options) {
  if (IsSqliteConnectionString(options.connection_string)) {
    return std::make_unique<SqliteConnection>(options);
  }
  return std::make_unique<OdbcConnection>(options);
}

}  // namespace corvane::data
