// How the data layer fails: an Error of kind kDatabase carrying the engine's own code (SQLite's
// extended result code, the ODBC native error), or a classic number (base/status_codes.h) where
// the engine gives none.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"

namespace corvane::data {

// Throws a kDatabase Error with this classic number and description.
[[noreturn]] inline void ThrowDatabaseError(long number, const std::string& description) {
  throw Error(ErrorKind::kDatabase, number, description);
}
// Throws a kDatabase Error with the engine's own code ("SQLite 14", "SQLSTATE 08001").
[[noreturn]] inline void ThrowDatabaseError(ForeignCode code, const std::string& description) {
  throw Error(ErrorKind::kDatabase, std::move(code), description);
}
// "Row cannot be located for updating" (kRowCannotBeLocated) with the reason appended.
[[noreturn]] inline void ThrowRowCannotBeLocated(std::string_view reason) {
  throw Error(ErrorKind::kDatabase, errnum::kRowCannotBeLocated,
              "Row cannot be located for updating: " + std::string(reason));
}

}  // namespace corvane::data
