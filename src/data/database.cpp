#include "data/database.h"

#include <string>

#include "base/process_end.h"
#include "data/odbc/odbc_connection.h"
#include "data/sqlite/sqlite_connection.h"

namespace corvane::data {

namespace {
// Appended as it stands: the settings file carries everything but the password.
constexpr const char* kPasswordPart = "PWD=vantorel;";
constexpr std::chrono::seconds kConnectionTimeout{10};
}  // namespace

std::unique_ptr<Connection> Connect(const ConnectOptions& options) {
  if (IsSqliteConnectionString(options.connection_string)) {
    return std::make_unique<SqliteConnection>(options);
  }
  return std::make_unique<OdbcConnection>(options);
}

std::unique_ptr<Connection> OpenDatabase(const RunSettings& settings,
                                         const std::filesystem::path& program_folder) {
  ConnectOptions options;
  options.connection_string = settings.gConnectString + kPasswordPart;
  options.timeout = kConnectionTimeout;
  options.base_folder = program_folder;
  // No cursor location to set afterwards: every row set of ours is a client-side static
  // snapshot already.
  return Connect(options);
}

void CloseAndEnd(Connection& gConn) {
  gConn.Close();
  EndProcess(0);
}

}  // namespace corvane::data
