// The setup pages run as written: their `sh setup-step` blocks, in order, in one root shell, on a
// fresh server, up to the page's own --check. Only the machine's own places are put in for the
// page's texts (below); the administrator's client finds the server by its environment. The
// login the page made, with the password it wrote, then reads what the passes read, marks
// EmailSent and changes nothing else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>

#include "base/error.h"
#include "data/company.h"
#include "data/database.h"
#include "support/mariadb_server.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

// The page's step blocks, one after the other, with `places` put in.
std::string PageSteps(const std::string& page,
                      const std::vector<std::pair<std::string, std::string>>& places) {
  std::istringstream lines(ReadFile(fs::path(CORVANE_SOURCE_DIR) / "docs" / page));
  std::string script;
  bool in_step = false;
  for (std::string line; std::getline(lines, line);) {
    const bool fence = line.starts_with("```");
    if (in_step && !fence) script += line + "\n";
    if (fence) in_step = line == "```sh setup-step";
  }
  for (const auto& [written, here] : places) {
    script = std::regex_replace(script, std::regex(written), here);
  }
  return script;
}

class SetupSql : public ::testing::TestWithParam<Engine> {};

TEST_P(SetupSql, RunsAsWrittenAndItsLoginReadsAndMarksWhatTheRunDoesAndNothingMore) {
  CORVANE_REQUIRE_ENGINE(GetParam());
  if (geteuid() != 0) GTEST_SKIP() << "the page's steps run as root";
  UsePrivateOdbcConfig();
  const bool postgres = GetParam() == Engine::kPostgres;
  const std::unique_ptr<SqlServer> server =
      postgres ? std::unique_ptr<SqlServer>(std::make_unique<PostgresServer>())
               : std::make_unique<MariaDbServer>();
  // A fresh server but for the test bed's own login, which the page makes.
  server->RunSqlAsAdmin(postgres ? "postgres" : "mysql",
                        postgres ? "DROP ROLE corvane;" : "DROP USER corvane@localhost;");
  ScriptedSmtpServer smtp;
  ProgramFolder program;
  fs::create_directory_symlink(fs::path(CORVANE_SOURCE_DIR) / "sql", program / "sql");
  program.WriteConfigText("");
  fs::permissions(program / "config.txt", fs::perms::owner_read | fs::perms::owner_write);

  const std::string script =
      PageSteps(postgres ? "setup-postgresql.md" : "setup-mariadb.md",
                {{"/opt/corvane-email-handler", program.path().string()},
                 {"/etc/corvane-email-handler", program.path().string()},
                 {"/var/run/postgresql", server->socket_folder().string()},
                 {"/run/mysqld/mysqld.sock", (server->socket_folder() / "mysqld.sock").string()},
                 {"smtp://mail.corvanetours.com:587", smtp.host_port()}});
  ProcessOptions options;
  options.set_env = server->AdminClientEnvironment();
  options.set_env["PATH"] = program.path().string() + ":" + std::getenv("PATH");
  // Its last step is --check: every item passed.
  const ProcessResult page = corvane::testing::Run({"/bin/sh", "-e", "-c", script}, options);
  ASSERT_EQ(page.exit_status, 0) << script << page.out << page.err;

  const std::string config = ReadFile(program / "config.txt");
  const std::size_t item3 = config.find("Database,\"") + 10;
  RunSettings settings;
  settings.gConnectString = config.substr(item3, config.find('"', item3) - item3);
  server->RunSqlAsAdmin("fleet", "INSERT INTO HexmileTicket (ID, EmailSent) VALUES (1, 0);");
  auto gConn = data::OpenDatabase(settings, "/nonexistent");
  data::LoadCompany(*gConn, settings);
  EXPECT_EQ(settings.gEmailServer, smtp.host_port());
  for (const char* table :
       {"TourItems", "Tour", "Customer", "Invoice", "Bus", "Driver", "HexmileAction"}) {
    EXPECT_NO_THROW(gConn->OpenRowSet(std::string("SELECT * FROM ") + table)) << table;
  }
  auto tickets = gConn->OpenRowSet("SELECT * FROM HexmileTicket");
  tickets->SetField("EmailSent", Value(true));
  EXPECT_NO_THROW(tickets->Update());
  tickets->SetField("Status", Value("Closed"));
  EXPECT_THROW(tickets->Update(), Error);
}

INSTANTIATE_TEST_SUITE_P(Engines, SetupSql, ServerEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
