// The whole run through the real executable, in a program folder of its own, started the way
// cron starts it (working directory /, next to no environment).
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "base/clock.h"
#include "base/file_descriptor.h"
#include "support/child_process.h"
#include "support/local_day.h"
#include "support/program_folder.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCompany =
    "INSERT INTO Company VALUES (1,'Corvane Tours','1 Depot Rd','','Austin','TX','78701',"
    "'512-555-0100','','office@example.com','www.example.com',0.25,0.0825,"
    "'maintenance@example.com','fleet@example.com','Corvane Fleet','pickup:outbox');";

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { Renew(); }
  // A fresh program folder with its outbox: each test starts with one, and a test that runs
  // once more on another day (OnOneDay) starts again with another.
  void Renew() {
    folder_.emplace();
    fs::create_directory(program() / "outbox");
  }
  ProgramFolder& program() { return *folder_; }

  void WriteUsualConfig(std::string_view days = "7") {
    program().WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@example.com", days);
  }
  int OutboxCount() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(program() / "outbox")) {
      count += entry.path().extension() == ".eml";
    }
    return count;
  }

  std::optional<ProgramFolder> folder_;
};

TEST_F(RunTest, MissingSettingsFileEndsBeforeAnyDatabaseAccess) {
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("run-time error 53: File not found"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("config.txt"), std::string::npos);
  EXPECT_NE(result.err.find("[in ReadConfig]"), std::string::npos);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(program() / "fleet.db"));
}

TEST_F(RunTest, ShortSettingsFileIsInputPastEndOfFile) {
  program().WriteConfigText("Corvane\r\nDatabase,\"Provider=SQLite;Data Source=fleet.db;\"\r\n");
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("run-time error 62: Input past end of file"), std::string::npos)
      << result.err;
}

// Under systemd (JOURNAL_STREAM names standard error) the report is stored as an error and a
// warning as a warning; under cron the lines stay as they are (the tests above).
TEST_F(RunTest, OnTheJournalTheReportAndAWarningCarryTheirPriorities) {
  program().WriteConfigText("Corvane\r\n");
  const fs::path journal = program() / "journal";
  WriteFile(journal, "");
  struct stat stream {};
  ASSERT_EQ(stat(journal.c_str(), &stream), 0);
  ProcessOptions options = program().CronOptions();
  options.stderr_file = journal;
  options.set_env["JOURNAL_STREAM"] =
      std::to_string(stream.st_dev) + ":" + std::to_string(stream.st_ino);
  options.set_env["CORVANE_METRICS_FILE"] = (program() / "missing" / "corvane.prom").string();
  EXPECT_EQ(testing::Run({program().executable().string()}, options).exit_status, 78);
  EXPECT_THAT(ReadFile(journal),
              ::testing::MatchesRegex("<3>corvane-email-handler: run-time error 62: [^\n]+\n"
                                      "<4>corvane-email-handler: warning: metrics file [^\n]+\n"));
}

TEST_F(RunTest, SettingsComeFromTheProgramFolderNotTheWorkingDirectory) {
  program().CreateSqliteDatabase(kCompany);
  WriteUsualConfig();
  TempDir elsewhere;
  WriteFile(elsewhere / "config.txt", "broken");
  const ProcessResult result = program().RunProgram(elsewhere.path());
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

TEST_F(RunTest, MissingDatabaseIsAnErrorAndIsNotCreated) {
  WriteUsualConfig();
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 69);
  EXPECT_NE(result.err.find("[in OpenDatabase]"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(program() / "fleet.db"));
}

TEST_F(RunTest, EmptyCompanyTableNamesTheMissingSettings) {
  program().CreateSqliteDatabase("");
  WriteUsualConfig();
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("Company table has no row"), std::string::npos) << result.err;
}

TEST_F(RunTest, NullCompanyColumnIsInvalidUseOfNull) {
  program().CreateSqliteDatabase(std::string(kCompany) + "UPDATE Company SET Website = NULL;");
  WriteUsualConfig();
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 65);
  EXPECT_NE(result.err.find("run-time error 94"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("[in LoadCompany]"), std::string::npos) << result.err;
}

TEST_F(RunTest, NothingToReportEndsQuietly) {
  program().CreateSqliteDatabase(kCompany);
  WriteUsualConfig();
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(OutboxCount(), 0);
}

TEST_F(RunTest, AQualifyingTourIsSentAndTheRunEndsWithZero) {
  OnOneDay([&](DateTime today) {
    Renew();
    program().CreateSqliteDatabase(std::string(kCompany) + OneOpenTourSql(today));
    WriteUsualConfig();
    const ProcessResult result = program().RunProgram();
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(OutboxCount(), 1);
  });
}

TEST_F(RunTest, BadDaysSettingFailsInThePassBeforeAnyAlert) {
  program().CreateSqliteDatabase(std::string(kCompany) + OneOpenTourSql(SystemClock().Today()));
  WriteUsualConfig("seven");
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 65);
  EXPECT_NE(result.err.find("run-time error 13: Type mismatch"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("[in CheckTourDrops]"), std::string::npos);
  EXPECT_EQ(OutboxCount(), 0);
}

TEST_F(RunTest, SecondInstanceIsRefusedAndSendsNothing) {
  OnOneDay([&](DateTime today) {
    Renew();
    program().CreateSqliteDatabase(std::string(kCompany) + OneOpenTourSql(today));
    WriteUsualConfig();
    // Another instance of this very program holds the lock (on the file a run makes, 0600).
    WriteFile(program().lock_file(), "");
    fs::permissions(program().lock_file(), fs::perms::owner_read | fs::perms::owner_write);
    ChildProcess first({"flock", program().lock_file().string(), "sleep", "60"});
    ASSERT_TRUE(program().WaitUntilLocked());
    const ProcessResult second = program().RunProgram();
    EXPECT_EQ(second.exit_status, 75);
    EXPECT_EQ(second.err, kStoodDown);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(OutboxCount(), 0);

    first.Stop(9);  // a lock of a killed holder does not block the next run
    EXPECT_EQ(program().RunProgram().exit_status, 0);
    EXPECT_EQ(OutboxCount(), 1);
  });
}

TEST_F(RunTest, AnotherUsersLockOnTheProgramFileDoesNotStopARun) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  program().CreateSqliteDatabase(kCompany);
  WriteUsualConfig();
  // As `flock -s corvane-email-handler sleep 1d` by someone who may only read the program.
  const FileDescriptor program_file(open(program().executable().c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(program_file.valid());
  ProcessOptions as_nobody;
  as_nobody.run_as_user = "nobody";
  as_nobody.pass_fds = {program_file.get()};
  ChildProcess holder({"sh", "-c", "flock --shared 3 && exec sleep 60"}, as_nobody);
  ASSERT_TRUE(WaitUntilFileLocked(program().executable(), std::chrono::seconds(20)));
  const ProcessResult result = program().RunProgram();
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace corvane::testing
