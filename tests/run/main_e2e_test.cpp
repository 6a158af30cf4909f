// The whole run through the real executable, in a program folder of its own, started the way
// cron starts it (working directory /, next to no environment).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/program_folder.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kCompany =
    "INSERT INTO Company VALUES (1,'Corvane Tours','1 Depot Rd','','Austin','TX','78701',"
    "'512-555-0100','','office@example.com','www.example.com',0.25,0.0825,"
    "'maintenance@example.com','fleet@example.com','Corvane Fleet','pickup:outbox');";

// One tour that qualifies today, whatever today is.
constexpr std::string_view kOneOpenTour =
    "INSERT INTO Customer VALUES (1,'Hill Country Seniors');"
    "INSERT INTO Tour VALUES (1,'Capitol Day Trip',1,'Contract - Signed');"
    "INSERT INTO TourItems VALUES (1,1,date('now','localtime'));"
    "INSERT INTO Invoice VALUES (10,1,'Daily',100,40);";

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(program_ / "outbox"); }

  void WriteUsualConfig(std::string_view days = "7") {
    program_.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@example.com", days);
  }
  int OutboxCount() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(program_ / "outbox")) {
      count += entry.path().extension() == ".eml";
    }
    return count;
  }

  ProgramFolder program_;
};

TEST_F(RunTest, MissingSettingsFileEndsBeforeAnyDatabaseAccess) {
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("run-time error 53: File not found"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("config.txt"), std::string::npos);
  EXPECT_NE(result.err.find("[in ReadConfig]"), std::string::npos);
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(program_ / "fleet.db"));
}

TEST_F(RunTest, ShortSettingsFileIsInputPastEndOfFile) {
  program_.WriteConfigText("Corvane\r\nDatabase,\"Provider=SQLite;Data Source=fleet.db;\"\r\n");
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("run-time error 62: Input past end of file"), std::string::npos)
      << result.err;
}

TEST_F(RunTest, SettingsComeFromTheProgramFolderNotTheWorkingDirectory) {
  program_.CreateSqliteDatabase(kCompany);
  WriteUsualConfig();
  TempDir elsewhere;
  WriteFile(elsewhere / "config.txt", "broken");
  const ProcessResult result = program_.RunProgram(elsewhere.path());
  EXPECT_EQ(result.exit_status, 0) << result.err;
}

TEST_F(RunTest, MissingDatabaseIsAnErrorAndIsNotCreated) {
  WriteUsualConfig();
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 69);
  EXPECT_NE(result.err.find("[in OpenDatabase]"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(program_ / "fleet.db"));
}

TEST_F(RunTest, EmptyCompanyTableNamesTheMissingSettings) {
  program_.CreateSqliteDatabase("");
  WriteUsualConfig();
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 78);
  EXPECT_NE(result.err.find("Company table has no row"), std::string::npos) << result.err;
}

TEST_F(RunTest, NullCompanyColumnIsInvalidUseOfNull) {
  program_.CreateSqliteDatabase(std::string(kCompany) + "UPDATE Company SET Website = NULL;");
  WriteUsualConfig();
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 65);
  EXPECT_NE(result.err.find("run-time error 94"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("[in LoadCompany]"), std::string::npos) << result.err;
}

TEST_F(RunTest, NothingToReportEndsQuietly) {
  program_.CreateSqliteDatabase(kCompany);
  WriteUsualConfig();
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(OutboxCount(), 0);
}

TEST_F(RunTest, AQualifyingTourIsSentAndTheRunEndsWithZero) {
  program_.CreateSqliteDatabase(std::string(kCompany) + std::string(kOneOpenTour));
  WriteUsualConfig();
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(OutboxCount(), 1);
}

TEST_F(RunTest, BadDaysSettingFailsInThePassBeforeAnyAlert) {
  program_.CreateSqliteDatabase(std::string(kCompany) + std::string(kOneOpenTour));
  WriteUsualConfig("seven");
  const ProcessResult result = program_.RunProgram();
  EXPECT_EQ(result.exit_status, 65);
  EXPECT_NE(result.err.find("run-time error 13: Type mismatch"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("[in CheckTourDrops]"), std::string::npos);
  EXPECT_EQ(OutboxCount(), 0);
}

TEST_F(RunTest, SecondInstanceIsRefusedAndSendsNothing) {
  program_.CreateSqliteDatabase(std::string(kCompany) + std::string(kOneOpenTour));
  WriteUsualConfig();
  // Another instance of this very program holds the lock.
  ChildProcess first({"flock", program_.executable().string(), "sleep", "60"});
  ASSERT_TRUE(program_.WaitUntilLocked());
  const ProcessResult second = program_.RunProgram();
  EXPECT_EQ(second.exit_status, 75);
  EXPECT_EQ(second.err, "Application Already Running\nThis application is already running.\n");
  EXPECT_EQ(second.out, "");
  EXPECT_EQ(OutboxCount(), 0);

  first.Stop(9);  // a lock of a killed holder does not block the next run
  EXPECT_EQ(program_.RunProgram().exit_status, 0);
  EXPECT_EQ(OutboxCount(), 1);
}

}  // namespace
}  // namespace corvane::testing
