#include "base/clock.h"

#include <ctime>

#include "base/error.h"

namespace corvane {

DateTime SystemClock::Now() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) {
    throw Error(ErrorKind::kSystem, errnum::kInvalidProcedureCall, "The local time is unknown");
  }
  return DateTime::FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec == 60 ? 59 : local.tm_sec);
}

}  // namespace corvane
