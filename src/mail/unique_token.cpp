#include "mail/unique_token.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace corvane::mail {

UniqueTokens::UniqueTokens() {
  std::random_device device;
  std::seed_seq seed{device(), device(), device(), device()};
  random_.seed(seed);
}

std::string UniqueTokens::Next() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%ld.%06" PRIu64 ".%016" PRIx64,
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                utc.tm_sec, static_cast<long>(getpid()), ++counter_, random_());
  return text;
}

}  // namespace corvane::mail
