#include "mail/compose/message_stamp.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace corvane::mail {

std::string FormatMailDate(const std::tm& local) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const long offset_minutes = local.tm_gmtoff / 60;
  const long magnitude = std::labs(offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                offset_minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::string MailDateNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return FormatMailDate(local);
}

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
