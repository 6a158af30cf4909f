#include "run/command_line.h"

#include <getopt.h>

#include <string>

namespace corvane::run {

std::variant<Command, UsageError> ParseCommandLine(int argc, char* const argv[]) {
  static const option kOptions[] = {{"check", no_argument, nullptr, 'c'},
                                    {"dry-run", no_argument, nullptr, 'n'},
                                    {"test-mail", required_argument, nullptr, 't'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  // getopt keeps its place in globals: start it afresh ("+": stop at the first non-option, so
  // a stray argument is never moved out of sight), and keep it quiet (the usage says it all).
  optind = 0;
  opterr = 0;
  Command command;
  bool chosen = false;
  while (true) {
    const int c = getopt_long(argc, argv, "+:h", kOptions, nullptr);
    if (c == -1) break;
    if (c == ':') return UsageError{"--test-mail needs an ADDRESS"};
    if (c == '?') {
      if (optopt != 0)
        return UsageError{std::string("unknown option -") + static_cast<char>(optopt)};
      return UsageError{std::string("unknown option ") + argv[optind - 1]};
    }
    if (chosen) return UsageError{"give one command at a time"};
    chosen = true;
    switch (c) {
      case 'c':
        command.kind = CommandKind::kCheck;
        break;
      case 'n':
        command.kind = CommandKind::kDryRun;
        break;
      case 't':
        command.kind = CommandKind::kTestMail;
        command.address = optarg;
        break;
      case 'V':
        command.kind = CommandKind::kVersion;
        break;
      default:
        command.kind = CommandKind::kHelp;
        break;
    }
  }
  if (optind < argc) return UsageError{std::string("unexpected argument ") + argv[optind]};
  return command;
}

std::string UsageText() {
  return "Usage: corvane-email-handler [COMMAND]\n"
         "\n"
         "With no command: one run, as cron or the systemd timer starts it. It reads config.txt\n"
         "beside the program, e-mails the tour-drop alerts and prints each log line.\n"
         "\n"
         "Commands (none writes to the database; only --test-mail sends mail):\n"
         "  --check              check everything a run needs, one line per item\n"
         "  --dry-run            print every alert a run would send now, in full, send none\n"
         "  --test-mail ADDRESS  send one test message through the mail server, print its reply\n"
         "  --version            print the version\n"
         "  -h, --help           print this help\n"
         "\n"
         "Exit status: 0 done; 64 usage; 65 data; 69 database; 70 internal; 71 system;\n"
         "75 another run is going; 76 mail; 77 settings others could change; 78 settings;\n"
         "124 a time limit passed; 128+N stopped by signal N. See corvane-email-handler(1).\n";
}

}  // namespace corvane::run
