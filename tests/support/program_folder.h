// A program folder for end-to-end runs: a copy of the real executable in a fresh temporary
// folder, with the config.txt and SQLite database the test gives it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::testing {

class ProgramFolder {
 public:
  ProgramFolder();

  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path operator/(std::string_view name) const { return dir_ / name; }
  std::filesystem::path executable() const { return dir_ / "corvane-email-handler"; }
  // The single-instance lock file a run makes beside the executable.
  std::filesystem::path lock_file() const { return dir_ / "corvane-email-handler.lock"; }

  // Writes config.txt in the usual layout with the three values that matter.
  void WriteConfig(std::string_view connection_string, std::string_view tour_alert_to,
                   std::string_view tour_alert_days);
  void WriteConfigText(std::string_view bytes);

  // Creates `name` in the folder from the SQLite schema file plus `sql`, and returns its path.
  std::filesystem::path CreateSqliteDatabase(std::string_view sql,
                                             std::string_view name = "fleet.db");

  // Runs the program from `working_directory` (default "/", as cron does) with a cron-like
  // environment: no HOME, no XDG_RUNTIME_DIR, LC_ALL=C.
  // Every run's report on standard error is checked to be one line without the password.
  ProcessResult RunProgram(const std::filesystem::path& working_directory = "/",
                           std::chrono::seconds limit = std::chrono::seconds(120)) const;
  // The same with a command line ("--check", ...), from "/".
  ProcessResult RunCommand(const std::vector<std::string>& arguments) const;
  ChildProcess StartProgram(const std::filesystem::path& working_directory = "/") const;
  // Waits until some process holds the single-instance lock (an flock on lock_file()), as
  // /proc/locks shows it, without touching the lock itself. False after `limit`.
  bool WaitUntilLocked(std::chrono::milliseconds limit = std::chrono::seconds(20)) const;
  // The cron-like options RunProgram and StartProgram use, for a test that starts many runs.
  ProcessOptions CronOptions(const std::filesystem::path& working_directory = "/") const;

 private:
  TempDir dir_;
};

// Waits until some process holds an flock on `file`, as /proc/locks shows it, without touching
// the lock itself; `file` may not be there yet. False after `limit`.
bool WaitUntilFileLocked(const std::filesystem::path& file, std::chrono::milliseconds limit);

// What a run that finds another going writes, on standard error: one line, both texts.
inline constexpr std::string_view kStoodDown =
    "corvane-email-handler: Application Already Running: This application is already running.\n";

// Fails the test unless the run's standard error is empty, the single-instance message, or one
// report line that holds no password.
void ExpectOneLineReport(const ProcessResult& result);

// Runs `sql` (any number of statements) on the SQLite database file; fails the test on error.
void ExecSqlite(const std::filesystem::path& database, std::string_view sql);
// The first column of the first row of `query`, as text ("" for no row, "NULL" for Null).
std::string QuerySqlite(const std::filesystem::path& database, std::string_view query);

// One contracted tour (1, "Capitol Day Trip", of customer 1, "Hill Country Seniors") ending on
// `day`, with an open daily invoice (10, $60.00 due): one alert when `day` is in a run's window.
std::string OneOpenTourSql(DateTime day);

// The schema every SQLite test database starts from.
std::filesystem::path SqliteSchemaFile();

// The demo rows as SQL for `engine` (scripts/demo-data.py: sqlite, postgresql, mariadb), dated
// around today.
std::string DemoDataSql(std::string_view engine = "sqlite");

}  // namespace corvane::testing
