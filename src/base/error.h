// The one failure type of the program. Every stage throws it and nothing below the top of the
// run catches it: the top reports it and ends the process with the exit status of its kind.
#pragma once

#include <exception>
#include <string>

namespace corvane {

// What kind of thing failed; decides the process's exit status (see exit_status.h).
enum class ErrorKind {
  kSettings,  // config.txt missing, unreadable or short
  kValue,     // a value that cannot be used as asked (Null, not a number, out of range)
  kDatabase,  // the database engine refused or failed
  kMail,      // the mail component or the mail server refused or failed
  kSystem,    // the operating system refused (files, locks)
  kUnsafe,    // settings that others than their owner could change
};

// Classic run-time error numbers, used where one fits. Engine errors carry the engine's own code.
namespace errnum {
inline constexpr long kInvalidProcedureCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kInputPastEndOfFile = 62;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathFileAccessError = 75;
inline constexpr long kInvalidUseOfNull = 94;
inline constexpr long kRowCannotBeLocated = 3021;  // the current row is gone or cannot be found
}  // namespace errnum

class Error : public std::exception {
 public:
  Error(ErrorKind kind, long number, std::string description);

  ErrorKind kind() const noexcept { return kind_; }
  long number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  // "<number>: <description>"
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrorKind kind_;
  long number_;
  std::string description_;
  std::string what_;
};

// Shorthands for the classic value errors; `detail` says which value, e.g. "column InvoiceNumber".
[[noreturn]] void ThrowInvalidUseOfNull(const std::string& detail);
[[noreturn]] void ThrowTypeMismatch(const std::string& detail);
[[noreturn]] void ThrowOverflow(const std::string& detail);

}  // namespace corvane
