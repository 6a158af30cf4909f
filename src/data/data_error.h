// Error numbers of the data layer where the engine gives none of its own. Engine failures carry
// the engine's code instead (SQLite's extended result code, the ODBC native error).
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"

namespace corvane::data {

// The classic data-access numbers, so a report reads as operators know it.
inline constexpr long kItemNotFound = 3265;  // the query returns no column of that name
inline constexpr long kNoCurrentRow = 3021;  // before the first or after the last row
inline constexpr long kObjectClosed = 3704;  // the row set or connection is closed
// A provider failure whose driver reported native code 0 (the generic provider error number).
inline constexpr long kProviderError = -2147467259;
// A statement that did not end within its limit ("Query timeout expired").
inline constexpr long kQueryTimeout = -2147217871;
// A connection string that cannot be used (unknown provider, no driver for it).
inline constexpr long kConnectionStringError = 3706;

// Throws a kDatabase Error with this number and description.
[[noreturn]] inline void ThrowDatabaseError(long number, const std::string& description) {
  throw Error(ErrorKind::kDatabase, number, description);
}
// "Row cannot be located for updating" (kRowCannotBeLocated) with the reason appended.
[[noreturn]] inline void ThrowRowCannotBeLocated(std::string_view reason) {
  throw Error(ErrorKind::kDatabase, errnum::kRowCannotBeLocated,
              "Row cannot be located for updating: " + std::string(reason));
}

}  // namespace corvane::data
