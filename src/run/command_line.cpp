#include "run/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "run/monitor_conventions.h"

namespace corvane::run {

namespace {

enum Option : int {
  kFleet = 256,
  kHeartbeatUrl,
  kMetricsFile,
  kHeartbeatStyle,
  kConfig,
  kLedger,
  kHistory
};

// The option an error is about, as the user wrote it.
std::string Written(int argc, char* const argv[]) {
  return optind >= 1 && optind <= argc ? argv[optind - 1] : "";
}

// --history's DAYS, or 0 when `text` is not a whole number from 1 to kMostHistoryDays.
int HistoryDays(std::string_view text) {
  if (text.empty() || text.size() > 4 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  const int days = std::stoi(std::string(text));
  return days <= kMostHistoryDays ? days : 0;
}

}  // namespace

std::variant<Command, UsageError> ParseCommandLine(int argc, char* const argv[]) {
  static const option kOptions[] = {
      {"check", no_argument, nullptr, 'c'},
      {"dry-run", no_argument, nullptr, 'n'},
      {"test-mail", required_argument, nullptr, 't'},
      {"version", no_argument, nullptr, 'V'},
      {"help", no_argument, nullptr, 'h'},
      {"fleet", no_argument, nullptr, kFleet},
      {"heartbeat-url", required_argument, nullptr, kHeartbeatUrl},
      {"metrics-file", required_argument, nullptr, kMetricsFile},
      {"heartbeat-style", required_argument, nullptr, kHeartbeatStyle},
      {"config", required_argument, nullptr, kConfig},
      {"ledger", no_argument, nullptr, kLedger},
      {"history", optional_argument, nullptr, kHistory},
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
    if (c == ':') {
      // Never echo what followed: a heartbeat URL is a secret.
      std::string name = Written(argc, argv);
      name = name.substr(0, name.find('='));
      const char* what = optopt == 't'               ? "an ADDRESS"
                         : optopt == kHeartbeatUrl   ? "a URL"
                         : optopt == kHeartbeatStyle ? "a STYLE"
                         : optopt == kConfig         ? "a FILE"
                                                     : "a PATH";
      return UsageError{name + " needs " + what};
    }
    if (c == '?') {
      const std::string written = Written(argc, argv);
      if (!written.starts_with("--")) {
        return UsageError{std::string("unknown option -") + static_cast<char>(optopt)};
      }
      const std::string name = written.substr(0, written.find('='));
      if (optopt != 0 && name != written) return UsageError{"option " + name + " takes no value"};
      return UsageError{"unknown option " + name};
    }
    switch (c) {
      case kFleet:
        command.fleet = true;
        continue;
      case kHeartbeatUrl:
        command.heartbeat_url = optarg;
        // The strings argv points to are the process's own and writable.
        std::fill_n(optarg, command.heartbeat_url->size(), '\0');
        continue;
      case kMetricsFile:
        command.metrics_file = optarg;
        continue;
      case kHeartbeatStyle:
        // Empty: the URL decides, as without the option.
        if (*optarg != '\0' && !HeartbeatStyleNamed(optarg)) {
          return UsageError{"--heartbeat-style takes " + std::string(kHeartbeatStyleNames)};
        }
        command.heartbeat_style = optarg;
        continue;
      case kConfig:
        if (*optarg == '\0') return UsageError{"--config needs a FILE"};
        command.settings_file = optarg;
        continue;
      case kLedger:
        command.ledger = true;
        continue;
      default:
        break;
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
      case kHistory: {
        command.kind = CommandKind::kHistory;
        // DAYS as --history=DAYS, or as the next argument when that is a number.
        const char* days = optarg;
        if (days == nullptr && optind < argc && HistoryDays(argv[optind]) > 0)
          days = argv[optind++];
        if (days != nullptr) {
          command.history_days = HistoryDays(days);
          if (command.history_days == 0) {
            return UsageError{"--history takes DAYS from 1 to " + std::to_string(kMostHistoryDays)};
          }
        }
        break;
      }
      case 'V':
        command.kind = CommandKind::kVersion;
        break;
      default:
        command.kind = CommandKind::kHelp;
        break;
    }
  }
  if (optind < argc) return UsageError{std::string("unexpected argument ") + argv[optind]};
  for (const auto& [given, name] :
       {std::pair{command.fleet, "--fleet"}, {command.ledger, "--ledger"}}) {
    if (given && command.kind == CommandKind::kTestMail) {
      return UsageError{std::string(name) +
                        " goes with a run, --check or --dry-run, not with --test-mail"};
    }
    if (given && command.kind == CommandKind::kHistory) {
      return UsageError{std::string(name) +
                        " goes with a run, --check or --dry-run, not with --history"};
    }
  }
  return command;
}

Own UsageText() {
  return "Usage: corvane-email-handler [COMMAND] [--fleet] [--ledger] [--config FILE]\n"
         "       [--heartbeat-url URL] [--heartbeat-style STYLE] [--metrics-file PATH]\n"
         "\n"
         "With no command: one run, as cron or the systemd timer starts it. It reads config.txt\n"
         "beside the program, e-mails the tour-drop alerts and prints each log line. Started as\n"
         "root, it runs as the owner of the settings file (unless root owns it).\n"
         "\n"
         "Commands (--check, --dry-run and --history write nothing; only --test-mail sends mail):\n"
         "  --check              check everything a run needs, one line per item\n"
         "  --dry-run            print every alert a run would send now, in full, send none\n"
         "  --test-mail ADDRESS  send one test message through the mail server, print its reply\n"
         "  --history [DAYS]     print the ledger's messages of the last DAYS days (7), newest\n"
         "                       first\n"
         "  --version            print the version\n"
         "  -h, --help           print this help\n"
         "\n"
         "Options:\n"
         "  --fleet              also e-mail new fleet tickets and ticket actions and mark them\n"
         "                       as e-mailed (with a run, --check or --dry-run)\n"
         "  --ledger             send each alert once, whatever runs on any host, keeping each\n"
         "                       message in the database's ledger (with a run, --check or\n"
         "                       --dry-run; default: $CORVANE_LEDGER=1)\n"
         "  --config FILE        read FILE instead of config.txt beside the program (relative\n"
         "                       paths in it still start from the program's folder)\n"
         "  --heartbeat-url URL  tell a cron monitor when a run starts and how it ended\n"
         "                       (default: $CORVANE_HEARTBEAT_URL, the safer place for it)\n"
         "  --heartbeat-style STYLE  the monitor's convention: healthchecks, cronitor or\n"
         "                       uptime-kuma (default: $CORVANE_HEARTBEAT_STYLE, else the URL's)\n"
         "  --metrics-file PATH  write each run's figures for Prometheus' textfile collector\n"
         "                       (default: $CORVANE_METRICS_FILE)\n"
         "\n"
         "Exit status: 0 done; 64 usage; 65 data; 69 database; 70 internal; 71 system;\n"
         "75 another run is going; 76 mail; 77 settings others could change; 78 settings;\n"
         "124 a time limit passed; 128+N stopped by signal N. See corvane-email-handler(1).\n";
}

}  // namespace corvane::run
