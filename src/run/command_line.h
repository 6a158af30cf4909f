// The command line. With none the program does its run, as cron and the timer start it; the
// operator commands prove a setup before the day an alert is due.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "base/guarded_text.h"

namespace corvane::run {

enum class CommandKind { kRun, kCheck, kDryRun, kTestMail, kHistory, kVersion, kHelp };

// --history's DAYS: the default, and the most it takes.
inline constexpr int kHistoryDays = 7;
inline constexpr int kMostHistoryDays = 3650;

struct Command {
  CommandKind kind = CommandKind::kRun;
  std::string address;  // --test-mail's recipient
  // --fleet: the fleet-ticket and fleet-action passes too (a run, --check and --dry-run).
  bool fleet = false;
  // --ledger: the run keeps each message once in the database's ledger (a run, --check and
  // --dry-run); CORVANE_LEDGER=1 does the same where the option is not given.
  bool ledger = false;
  int history_days = kHistoryDays;  // --history [DAYS]
  // --heartbeat-url URL, --heartbeat-style STYLE and --metrics-file PATH, where given: where
  // and how a run reports its end.
  std::optional<std::string> heartbeat_url;
  std::optional<std::string> heartbeat_style;
  std::optional<std::string> metrics_file;
  // --config FILE (every command): the settings file to read instead of config.txt beside the
  // program; empty: that one.
  std::string settings_file;
};

// What is wrong with a command line, in one line ("unknown option --frob").
struct UsageError {
  std::string what;
};

// Reads argv by getopt_long's conventions: long options (--check, --dry-run, --test-mail
// ADDRESS or --test-mail=ADDRESS, --history [DAYS] or --history=DAYS, --version, --help;
// --fleet, --ledger; --config FILE; --heartbeat-url URL, --heartbeat-style STYLE, --metrics-file
// PATH) and -h; "--" ends the options. An unknown option, a value given to an option that takes
// none, a missing value, a DAYS that is not a whole number from 1 to kMostHistoryDays, two
// commands, --fleet or --ledger with a command that has no passes, a style that names no monitor
// convention, an empty FILE, or any argument that is not an option is a UsageError naming the
// option as written.
std::variant<Command, UsageError> ParseCommandLine(int argc, char* const argv[]);

// The usage text (several lines, ending with a line end).
Own UsageText();

}  // namespace corvane::run
