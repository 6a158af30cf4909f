#include "base/error.h"

#include <string.h>

#include <utility>

namespace corvane {

Error::Error(ErrorKind kind, long number, std::string description)
    : kind_(kind),
      number_(number),
      description_(std::move(description)),
      what_(std::to_string(number_) + ": " + description_) {}

Error::Error(ErrorKind kind, ForeignCode code, std::string description)
    : kind_(kind),
      number_(code.number),
      code_(std::move(code.label)),
      description_(std::move(description)),
      what_(code_ + ": " + description_) {}

ForeignCode ForeignCode::Of(std::string_view library, long number) {
  return {std::string(library) + " " + std::to_string(number), number};
}

ForeignCode ForeignCode::System(int error) {
  const char* name = strerrorname_np(error);
  return {name != nullptr ? std::string(name) : "errno " + std::to_string(error), error};
}

namespace {
std::string WithDetail(const char* text, const std::string& detail) {
  return detail.empty() ? std::string(text) : std::string(text) + " (" + detail + ")";
}
}  // namespace

void ThrowInvalidUseOfNull(const std::string& detail) {
  throw Error(ErrorKind::kValue, errnum::kInvalidUseOfNull,
              WithDetail("Invalid use of Null", detail));
}

void ThrowTypeMismatch(const std::string& detail) {
  throw Error(ErrorKind::kValue, errnum::kTypeMismatch, WithDetail("Type mismatch", detail));
}

void ThrowOverflow(const std::string& detail) {
  throw Error(ErrorKind::kValue, errnum::kOverflow, WithDetail("Overflow", detail));
}

}  // namespace corvane
