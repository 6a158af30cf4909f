#include "base/date_time.h"

#include <charconv>
#include <ctime>

#include "base/clock.h"
#include "base/error.h"

namespace corvane {

namespace chr = std::chrono;

namespace {

constexpr chr::local_days kFirstDay{chr::year{100} / chr::January / 1};
constexpr chr::local_days kLastDay{chr::year{9999} / chr::December / 31};

[[noreturn]] void ThrowOutOfRange(const char* what) {
  throw Error(ErrorKind::kValue, errnum::kInvalidProcedureCall,
              std::string("Invalid procedure call or argument (") + what + ")");
}

chr::year_month_day Ymd(chr::local_seconds at) {
  return chr::year_month_day{chr::floor<chr::days>(at)};
}

chr::hh_mm_ss<chr::seconds> TimeOfDay(chr::local_seconds at) {
  return chr::hh_mm_ss<chr::seconds>{at - chr::floor<chr::days>(at)};
}

bool ParseInt(std::string_view text, int& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  if (month < 1 || month > 12 || day < 1 || day > 31) ThrowOutOfRange("date");
  const chr::year_month_day ymd{chr::year{year}, chr::month{static_cast<unsigned>(month)},
                                chr::day{static_cast<unsigned>(day)}};
  if (!ymd.ok()) ThrowOutOfRange("date");
  const chr::local_days days{ymd};
  if (days < kFirstDay || days > kLastDay) ThrowOutOfRange("date outside 100..9999");
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    ThrowOutOfRange("time of day");
  }
  return DateTime(days + chr::hours{hour} + chr::minutes{minute} + chr::seconds{second});
}

std::optional<DateTime> DateTime::FromIso(std::string_view text) {
  // YYYY-MM-DD
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ParseInt(text.substr(0, 4), year) || !ParseInt(text.substr(5, 2), month) ||
      !ParseInt(text.substr(8, 2), day)) {
    return std::nullopt;
  }
  std::string_view rest = text.substr(10);
  if (!rest.empty()) {
    // [ T]HH:MM[:SS[.fraction]]
    if ((rest[0] != ' ' && rest[0] != 'T') || rest.size() < 6 || rest[3] != ':') {
      return std::nullopt;
    }
    if (!ParseInt(rest.substr(1, 2), hour) || !ParseInt(rest.substr(4, 2), minute)) {
      return std::nullopt;
    }
    rest = rest.substr(6);
    if (!rest.empty()) {
      if (rest[0] != ':' || rest.size() < 3 || !ParseInt(rest.substr(1, 2), second)) {
        return std::nullopt;
      }
      rest = rest.substr(3);
      if (!rest.empty()) {
        if (rest[0] != '.' || rest.size() < 2) return std::nullopt;
        for (char c : rest.substr(1)) {
          if (c < '0' || c > '9') return std::nullopt;
        }
      }
    }
  }
  try {
    return FromParts(year, month, day, hour, minute, second);
  } catch (const Error&) {
    return std::nullopt;  // a malformed stored date is not a date; the caller keeps the text
  }
}

int DateTime::year() const {
  return static_cast<int>(Ymd(at_).year());
}
int DateTime::month() const {
  return static_cast<int>(static_cast<unsigned>(Ymd(at_).month()));
}
int DateTime::day() const {
  return static_cast<int>(static_cast<unsigned>(Ymd(at_).day()));
}
int DateTime::hour() const {
  return static_cast<int>(TimeOfDay(at_).hours().count());
}
int DateTime::minute() const {
  return static_cast<int>(TimeOfDay(at_).minutes().count());
}
int DateTime::second() const {
  return static_cast<int>(TimeOfDay(at_).seconds().count());
}

bool DateTime::is_midnight() const {
  return chr::floor<chr::days>(at_) == at_;
}

bool DateTime::is_zero_date() const {
  return chr::floor<chr::days>(at_) == kZero;
}

DateTime DateTime::date_only() const {
  return DateTime(chr::floor<chr::days>(at_));
}

DateTime DateTime::AddDays(long long days) const {
  const auto day = chr::floor<chr::days>(at_);
  // Bound before adding so a huge count cannot overflow the arithmetic.
  const long long room_after = (kLastDay - day).count();
  const long long room_before = (day - kFirstDay).count();
  if (days > room_after || -days > room_before) ThrowOutOfRange("date outside 100..9999");
  return DateTime(at_ + chr::days{days});
}

double DateTime::serial() const {
  const auto seconds = (at_ - kZero).count();
  return static_cast<double>(seconds) / 86400.0;
}

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
