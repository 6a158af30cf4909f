// A local calendar date and time of day, to the second, with no time zone: what a database
// DATE/DATETIME column and the wall clock give. Dates run from 1/1/100 to 12/31/9999.
#pragma once

#include <chrono>
#include <compare>
#include <optional>
#include <string_view>

namespace corvane {

class DateTime {
 public:
  // The zero date, 12/30/1899 at midnight (it shows as a time of day alone).
  constexpr DateTime() = default;

  // Fails with "Invalid procedure call" (5) when the parts do not make a date in the range,
  // or the time of day is not within 0:00:00..23:59:59.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0,
                            int second = 0);
  // 'YYYY-MM-DD', 'YYYY-MM-DD HH:MM[:SS[.fraction]]' or with 'T' between; nullopt otherwise.
  // A fraction of a second is dropped.
  static std::optional<DateTime> FromIso(std::string_view text);

  int year() const;
  int month() const;
  int day() const;
  int hour() const;
  int minute() const;
  int second() const;

  bool is_midnight() const;    // no time of day
  bool is_zero_date() const;   // its date is 12/30/1899
  DateTime date_only() const;  // the same date at midnight
  // Calendar days later (or earlier); fails with 5 when the result leaves the date range.
  DateTime AddDays(long long days) const;
  // Days since the zero date, with the time of day as a fraction (the platform's date serial).
  double serial() const;

  auto operator<=>(const DateTime&) const = default;

 private:
  using Seconds = std::chrono::local_seconds;
  explicit constexpr DateTime(Seconds s) : at_(s) {}
  static constexpr Seconds kZero =
      std::chrono::local_days{std::chrono::year{1899} / std::chrono::December / 30};
  Seconds at_ = kZero;
};

}  // namespace corvane
