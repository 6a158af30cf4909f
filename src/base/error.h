// The one failure type of the program. Every stage throws it and nothing below the top of the
// run catches it: the top reports it and ends the process with the exit status of its kind.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "base/status_codes.h"

namespace corvane {

// A code that a library, a server or the system gave, shown as theirs ("curl 7", "SQLite 14",
// "SQLSTATE 08001", "ENOENT") so that it can never be read as a classic run-time number.
struct ForeignCode {
  std::string label;
  long number = 0;  // the code itself (for SQLSTATE: the driver's native code)

  // "<library> <number>".
  static ForeignCode Of(std::string_view library, long number);
  // The errno's name ("ENOENT"), or "errno <n>" for one without.
  static ForeignCode System(int error);
};

class Error : public std::exception {
 public:
  // A classic run-time or data-access number (base/status_codes.h), and only such a number.
  Error(ErrorKind kind, long number, std::string description);
  Error(ErrorKind kind, ForeignCode code, std::string description);

  ErrorKind kind() const noexcept { return kind_; }
  long number() const noexcept { return number_; }
  // The foreign code's label; empty when number() is a classic number.
  const std::string& code() const noexcept { return code_; }
  const std::string& description() const noexcept { return description_; }
  // "<number or code>: <description>"
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrorKind kind_;
  long number_;
  std::string code_;
  std::string description_;
  std::string what_;
};

// Shorthands for the classic value errors; `detail` says which value, e.g. "column InvoiceNumber".
[[noreturn]] void ThrowInvalidUseOfNull(const std::string& detail);
[[noreturn]] void ThrowTypeMismatch(const std::string& detail);
[[noreturn]] void ThrowOverflow(const std::string& detail);

}  // namespace corvane
