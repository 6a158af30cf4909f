#include "data/database.h"

#include <optional>
#include <string>

#include "base/ascii.h"
#include "base/process_end.h"
#include "data/connection_string.h"
#include "data/engine_profile.h"

namespace corvane::data {

namespace {

constexpr std::chrono::seconds kConnectionTimeout{10};

// Both names drivers take for the password: ODBC's PWD and OLE DB's Password.
std::optional<std::string> WrittenPassword(const std::string& gConnectString) {
  std::optional<std::string> found;
  const ConnectionString read = ConnectionString::Read(gConnectString);
  for (const ConnectionPart& part : read.parts()) {
    if (EqualsNoCase(part.name, "PWD") || EqualsNoCase(part.name, "Password")) found = part.value;
  }
  return found;
}

}  // namespace

std::unique_ptr<Connection> Connect(const ConnectOptions& options) {
  ConnectionString read = ConnectionString::Read(options.connection_string);
  RemoveProgramParts(read);
  return ProfileForConnectionString(read).Open(read, options);
}

std::string FullConnectionString(const std::string& gConnectString) {
  if (WrittenPassword(gConnectString)) return gConnectString;
  std::string full = gConnectString;
  const std::string_view head = TrimBlanks(full);
  if (!head.empty() && head.back() != ';') full += ';';
  full += "PWD=";
  full += kPasswordValue;
  full += ';';
  return full;
}

std::string DatabasePassword(const std::string& gConnectString) {
  return WrittenPassword(gConnectString).value_or(std::string(kPasswordValue));
}

std::unique_ptr<Connection> OpenDatabase(const RunSettings& settings,
                                         const std::filesystem::path& program_folder,
                                         WaitWatch* watch, bool read_only) {
  ConnectOptions options;
  options.connection_string = FullConnectionString(settings.gConnectString);
  options.timeout = kConnectionTimeout;
  options.statement_limit = ReadProgramParts(options.connection_string).command_timeout;
  options.base_folder = program_folder;
  options.watch = watch;
  options.read_only = read_only;
  // No cursor location to set afterwards: every row set of ours is a client-side static
  // snapshot already.
  return Connect(options);
}

void CloseAndEnd(Connection& gConn) {
  gConn.Close();
  EndProcess(0);
}

}  // namespace corvane::data
