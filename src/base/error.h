// The one failure type of the program. Every stage throws it and nothing below the top of the
// run catches it: the top reports it and ends the process with the exit status of its kind.
#pragma once

#include <exception>
#include <string>

#include "base/status_codes.h"

namespace corvane {

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
