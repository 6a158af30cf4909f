#include "support/program_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/local_day.h"

namespace corvane::testing {

namespace {

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

SqliteHandle OpenSqlite(const std::filesystem::path& database) {
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  SqliteHandle db(raw);
  if (rc != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << database << ": " << sqlite3_errstr(rc);
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), 10000);
  return db;
}

}  // namespace

std::string OneOpenTourSql(DateTime day) {
  return "INSERT INTO Customer VALUES (1,'Hill Country Seniors');"
         "INSERT INTO Tour VALUES (1,'Capitol Day Trip',1,'Contract - Signed');"
         "INSERT INTO TourItems VALUES (1,1,'" +
         IsoDate(day) +
         "');"
         "INSERT INTO Invoice VALUES (10,1,'Daily',100,40);";
}

std::filesystem::path SqliteSchemaFile() {
  return std::filesystem::path(CORVANE_SOURCE_DIR) / "sql" / "schema-sqlite.sql";
}

std::string DemoDataSql(std::string_view engine) {
  const ProcessResult result =
      Run({"/usr/bin/python3", std::string(CORVANE_SOURCE_DIR) + "/scripts/demo-data.py",
           std::string(engine)});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

ProgramFolder::ProgramFolder() {
  std::filesystem::copy_file(CORVANE_EXECUTABLE, executable());
}

void ProgramFolder::WriteConfig(std::string_view connection_string, std::string_view tour_alert_to,
                                std::string_view tour_alert_days) {
  std::string text = "Corvane Email Handler\r\n";
  text += "Database,\"" + std::string(connection_string) + "\"\r\n";
  text += "Item3,\r\nItem4,\r\nItem5,\r\n";
  text += "TourAlertTo,\"" + std::string(tour_alert_to) + "\"\r\n";
  text += "TourAlertDays,\"" + std::string(tour_alert_days) + "\"\r\n";
  WriteConfigText(text);
}

void ProgramFolder::WriteConfigText(std::string_view bytes) {
  WriteFile(dir_ / "config.txt", bytes);
  // Owner-only, as the install makes it: a password in it is refused otherwise.
  std::filesystem::permissions(dir_ / "config.txt", std::filesystem::perms(0600));
}

std::filesystem::path ProgramFolder::CreateSqliteDatabase(std::string_view sql,
                                                          std::string_view name) {
  const std::filesystem::path database = dir_ / name;
  ExecSqlite(database, ReadFile(SqliteSchemaFile()));
  ExecSqlite(database, sql);
  return database;
}

ProcessOptions ProgramFolder::CronOptions(const std::filesystem::path& working_directory) const {
  ProcessOptions options;
  options.working_directory = working_directory;
  options.clear_env = true;
  options.set_env = {{"PATH", "/usr/bin:/bin"}, {"LC_ALL", "C"}, {"SHELL", "/bin/sh"}};
  // Sanitizer and ODBC settings of the test run still apply to the program.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "ODBCSYSINI", "ODBCINI",
                           "TZ", "CORVANE_MAIL_CA_FILE"}) {
    if (const char* value = std::getenv(name)) options.set_env[name] = value;
  }
  return options;
}

ProcessResult ProgramFolder::RunProgram(const std::filesystem::path& working_directory,
                                        std::chrono::seconds limit) const {
  ProcessResult result = Run({executable().string()}, CronOptions(working_directory), limit);
  ExpectOneLineReport(result);
  return result;
}

ProcessResult ProgramFolder::RunCommand(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = {executable().string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ProcessResult result = Run(argv, CronOptions("/"));
  ExpectOneLineReport(result);
  return result;
}

void ExpectOneLineReport(const ProcessResult& result) {
  const std::string& err = result.err;
  if (err.empty() || err == kStoodDown) {
    return;
  }
  // A usage error is its one line followed by the usage text.
  if (result.exit_status == 64) return;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "a report is exactly one line:\n" << err;
  EXPECT_EQ(err.find('\r'), std::string::npos) << err;
  EXPECT_EQ(err.find("vantorel"), std::string::npos) << "a report shows the password:\n" << err;
}

ChildProcess ProgramFolder::StartProgram(const std::filesystem::path& working_directory) const {
  return ChildProcess({executable().string()}, CronOptions(working_directory));
}

bool ProgramFolder::WaitUntilLocked(std::chrono::milliseconds limit) const {
  return WaitUntilFileLocked(lock_file(), limit);
}

bool WaitUntilFileLocked(const std::filesystem::path& path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    // /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF" (major:minor:inode in hex
    // for the device, decimal for the inode).
    char device_inode[64];
    std::snprintf(device_inode, sizeof device_inode, "%02x:%02x:%lu", major(file.st_dev),
                  minor(file.st_dev), static_cast<unsigned long>(file.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
      std::istringstream fields(line);
      std::string number, kind, mode, access, pid, where;
      fields >> number >> kind;
      if (kind == "->")
        fields >> kind;  // a waiter, not a holder
      else if (kind == "FLOCK" && (fields >> mode >> access >> pid >> where) &&
               where == device_inode) {
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void ExecSqlite(const std::filesystem::path& database, std::string_view sql) {
  SqliteHandle db = OpenSqlite(database);
  if (!db) return;
  char* message = nullptr;
  const std::string text(sql);
  if (sqlite3_exec(db.get(), text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    ADD_FAILURE() << "SQL failed: " << (message ? message : "?") << "\n" << text;
  }
  sqlite3_free(message);
}

std::string QuerySqlite(const std::filesystem::path& database, std::string_view query) {
  SqliteHandle db = OpenSqlite(database);
  if (!db) return "";
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), query.data(), static_cast<int>(query.size()), &raw, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "query failed: " << sqlite3_errmsg(db.get()) << "\n" << query;
    return "";
  }
  std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> statement(raw, &sqlite3_finalize);
  if (sqlite3_step(statement.get()) != SQLITE_ROW) return "";
  if (sqlite3_column_type(statement.get(), 0) == SQLITE_NULL) return "NULL";
  return reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
}

}  // namespace corvane::testing
