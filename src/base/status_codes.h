// Every exit status of the process and every error number of its reports, in one place, so the
// README's tables, the man page and the code cannot drift apart. Exit statuses follow
// <sysexits.h> where it has a value (cron and systemd users know them); error numbers are the
// classic run-time and data-access numbers operators know from the earlier system. Engine and
// mail-library failures carry their own codes instead.
#pragma once

#include <sysexits.h>

namespace corvane {

// What kind of thing failed; decides the process's exit status (ExitStatusFor).
enum class ErrorKind {
  kSettings,  // config.txt missing, unreadable or short
  kValue,     // a value that cannot be used as asked (Null, not a number, out of range)
  kDatabase,  // the database engine refused or failed
  kMail,      // the mail component or the mail server refused or failed
  kSystem,    // the operating system refused (files, locks, threads)
  kUnsafe,    // settings or program files that others than their owner could change
  kInternal,  // a fault of the program itself
};

namespace errnum {
// Classic run-time numbers.
inline constexpr long kInvalidProcedureCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kOutOfMemory = 7;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kUserInterrupt = 18;  // the run was stopped from outside (a signal)
inline constexpr long kInternalError = 51;
inline constexpr long kFileNotFound = 53;
inline constexpr long kInputPastEndOfFile = 62;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathFileAccessError = 75;
inline constexpr long kInvalidUseOfNull = 94;
// Classic data-access numbers, where the engine gives none of its own.
inline constexpr long kRowCannotBeLocated = 3021;  // the current row is gone or cannot be found
inline constexpr long kNoCurrentRow = 3021;        // before the first or after the last row
inline constexpr long kItemNotFound = 3265;        // the query returns no column of that name
inline constexpr long kObjectClosed = 3704;        // the row set or connection is closed
inline constexpr long kConnectionStringError = 3706;  // unknown provider, no driver for it
// A provider failure whose driver reported native code 0 (the generic provider error number).
inline constexpr long kProviderError = -2147467259;
// A wait that did not end within its limit ("Timeout expired", "Query timeout expired").
inline constexpr long kQueryTimeout = -2147217871;
}  // namespace errnum

namespace exit_status {
inline constexpr int kOk = EX_OK;                  // the run or command completed
inline constexpr int kUsage = EX_USAGE;            // 64: a wrong command line; nothing was done
inline constexpr int kDataError = EX_DATAERR;      // 65: a value that cannot be used
inline constexpr int kUnavailable = EX_UNAVAILABLE;  // 69: the database failed or refused
inline constexpr int kSoftware = EX_SOFTWARE;      // 70: an internal error
inline constexpr int kOsError = EX_OSERR;          // 71: the system refused (files, locks)
inline constexpr int kAlreadyRunning = EX_TEMPFAIL;  // 75: another run is going; try later
inline constexpr int kMailFailed = EX_PROTOCOL;    // 76: the mail server refused or failed
inline constexpr int kUnsafeSettings = EX_NOPERM;  // 77: others could change the settings
inline constexpr int kConfig = EX_CONFIG;          // 78: config.txt or the Company row
// No <sysexits.h> value fits these two; they are what timeout(1) and shells report.
inline constexpr int kTimedOut = 124;    // a limit passed: a frozen server, or the whole run's
inline constexpr int kSignalBase = 128;  // stopped by signal N: 128 + N
}  // namespace exit_status

constexpr int ExitStatusFor(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kSettings:
      return exit_status::kConfig;
    case ErrorKind::kValue:
      return exit_status::kDataError;
    case ErrorKind::kDatabase:
      return exit_status::kUnavailable;
    case ErrorKind::kMail:
      return exit_status::kMailFailed;
    case ErrorKind::kSystem:
      return exit_status::kOsError;
    case ErrorKind::kUnsafe:
      return exit_status::kUnsafeSettings;
    case ErrorKind::kInternal:
      break;
  }
  return exit_status::kSoftware;
}

}  // namespace corvane
