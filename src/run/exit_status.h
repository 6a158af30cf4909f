// Exit statuses of a run, sysexits-style, so cron and systemd can tell the causes apart.
#pragma once

#include "base/error.h"

namespace corvane::run {

inline constexpr int kExitOk = 0;               // the run completed
inline constexpr int kExitDataError = 65;       // EX_DATAERR: a value that cannot be used
inline constexpr int kExitUnavailable = 69;     // EX_UNAVAILABLE: the database failed or refused
inline constexpr int kExitSoftware = 70;        // EX_SOFTWARE: an internal error
inline constexpr int kExitOsError = 71;         // EX_OSERR: the system refused (files, locks)
inline constexpr int kExitAlreadyRunning = 75;  // EX_TEMPFAIL: another instance runs; try later
inline constexpr int kExitUnsafeSettings = 77;  // EX_NOPERM: others could change config.txt
inline constexpr int kExitMailFailed = 76;      // EX_PROTOCOL: the mail server refused or failed
inline constexpr int kExitConfig = 78;          // EX_CONFIG: config.txt or the Company row
inline constexpr int kExitTimedOut = 124;       // a limit passed (as timeout(1) ends): a frozen
                                                // server, or the whole run's limit
inline constexpr int kExitSignalBase = 128;     // stopped by signal N: 128 + N, as shells report

constexpr int ExitStatusFor(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kSettings:
      return kExitConfig;
    case ErrorKind::kValue:
      return kExitDataError;
    case ErrorKind::kDatabase:
      return kExitUnavailable;
    case ErrorKind::kMail:
      return kExitMailFailed;
    case ErrorKind::kSystem:
      return kExitOsError;
    case ErrorKind::kUnsafe:
      return kExitUnsafeSettings;
  }
  return kExitSoftware;
}

}  // namespace corvane::run
