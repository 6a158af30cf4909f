// SQL Server through FreeTDS, as far as it goes without a SQL Server (none runs on Linux test
// machines): an existing settings file's OLE DB string reaches the real driver, translated, and
// the driver's own refusal ends the run in its one-line report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/status_codes.h"
#include "support/loopback_socket.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

fs::path FreeTdsDriver() {
  for (const char* arch : {"x86_64-linux-gnu", "aarch64-linux-gnu"}) {
    const fs::path path = fs::path("/usr/lib") / arch / "odbc" / "libtdsodbc.so";
    if (fs::exists(path)) return path;
  }
  return {};
}

ServiceCheck FreeTdsAvailable() {
  if (FreeTdsDriver().empty()) return {false, "FreeTDS (tdsodbc)"};
  return {};
}

TEST(FreeTds, AnOleDbSettingsStringReachesTheRealDriverWhoseRefusalIsReported) {
  CORVANE_REQUIRE_SERVICE(FreeTdsAvailable());
  // The driver manager of the run knows FreeTDS alone, by the name Debian registers it under;
  // FreeTDS reads its defaults from a file of the test's own and logs what it does.
  TempDir odbc;
  WriteFile(odbc / "odbcinst.ini", "[FreeTDS]\nDriver=" + FreeTdsDriver().string() + "\n");
  WriteFile(odbc / "odbc.ini", "");
  WriteFile(odbc / "freetds.conf", "[global]\n\ttds version = auto\n");
  const LoopbackSocket nobody(LoopbackSocket::Mode::kRefusing);
  ProgramFolder program;
  program.WriteConfig(
      "Provider=SQLOLEDB.1;Persist Security Info=False;User ID=corvane;Initial Catalog=Fleet;"
      "Data Source=127.0.0.1," +
          std::to_string(nobody.port()) + ";",
      "dispatch@corvanetours.com", "7");
  ProcessOptions options = program.CronOptions();
  options.set_env["ODBCSYSINI"] = odbc.path().string();
  options.set_env["ODBCINI"] = (odbc / "odbc.ini").string();
  options.set_env["FREETDSCONF"] = (odbc / "freetds.conf").string();
  options.set_env["TDSDUMP"] = (odbc / "tds.log").string();

  const ProcessResult result = testing::Run({program.executable().string()}, options);
  EXPECT_EQ(result.exit_status, exit_status::kUnavailable) << result.err;
  ExpectOneLineReport(result);
  EXPECT_THAT(result.err, HasSubstr("[FreeTDS][SQL Server]Unable to connect"));
  EXPECT_THAT(result.err, HasSubstr("[in OpenDatabase]"));
  // "host,port" became FreeTDS's Server and Port: the driver tried the test's own port.
  EXPECT_THAT(ReadFile(odbc / "tds.log"),
              HasSubstr("Connecting to 127.0.0.1 port " + std::to_string(nobody.port())));
}

}  // namespace
}  // namespace corvane::testing
