// The command line. With none the program does its run, as cron and the timer start it; the
// operator commands prove a setup before the day an alert is due.
#pragma once

#include <string>
#include <variant>

namespace corvane::run {

enum class CommandKind { kRun, kCheck, kDryRun, kTestMail, kVersion, kHelp };

struct Command {
  CommandKind kind = CommandKind::kRun;
  std::string address;  // --test-mail's recipient
};

// What is wrong with a command line, in one line ("unknown option --frob").
struct UsageError {
  std::string what;
};

// Reads argv by getopt_long's conventions: long options (--check, --dry-run, --test-mail
// ADDRESS or --test-mail=ADDRESS, --version, --help) and -h; "--" ends the options. An unknown
// option, a missing ADDRESS, two commands, or any argument that is not an option is a
// UsageError.
std::variant<Command, UsageError> ParseCommandLine(int argc, char* const argv[]);

// The usage text (several lines, ending with a line end).
std::string UsageText();

}  // namespace corvane::run
