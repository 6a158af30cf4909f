#include "base/text_form.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "base/ascii.h"
#include "base/error.h"

namespace corvane {

namespace {

std::string Describe(std::string_view what) {
  return std::string(what);
}

// A decimal number in text: [sign] digits [. digits] [E [sign] digits], or with the digits only
// after the point. Blanks around it are allowed. Returns false for anything else.
bool ParseDecimal(std::string_view text, double& out) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  std::size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  if (i != text.size()) return false;
  const std::string copy(text);  // strtod needs a terminated string
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) return false;
  out = parsed;  // an out-of-range magnitude gives +-inf and fails later as overflow
  return true;
}

// The value's 15 significant decimal digits and the power of ten of the first one:
// value = 0.d1 d2 ... d15 x 10^(exponent + 1).
struct Decimal15 {
  bool negative = false;
  std::string digits;  // exactly 15
  int exponent = 0;
};

Decimal15 ToDecimal15(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", value);
  Decimal15 d;
  const char* p = buffer;
  if (*p == '-') d.negative = true, ++p;
  for (; *p && *p != 'e'; ++p) {
    if (*p != '.') d.digits.push_back(*p);
  }
  d.exponent = std::atoi(p + 1);
  return d;
}

std::string TwoDigits(int n) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", n);
  return buffer;
}

std::string ShortDate(DateTime d) {
  return std::to_string(d.month()) + "/" + std::to_string(d.day()) + "/" + std::to_string(d.year());
}

std::string LongTime(DateTime d) {
  const int hour12 = d.hour() % 12 == 0 ? 12 : d.hour() % 12;
  return std::to_string(hour12) + ":" + TwoDigits(d.minute()) + ":" + TwoDigits(d.second()) +
         (d.hour() < 12 ? " AM" : " PM");
}

}  // namespace

std::string GeneralDate(DateTime value) {
  if (value.is_zero_date()) return LongTime(value);
  if (value.is_midnight()) return ShortDate(value);
  return ShortDate(value) + " " + LongTime(value);
}

std::string GeneralNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";  // also for -0
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string text = buffer;
  // "%G" gives "1.5E+15" / "1E-06": the platform writes at least two exponent digits, as here.
  // Fixed notation from "%G" can carry trailing zeros only with '#', so none to strip.
  return text;
}

std::string FormatMonthDayYear(DateTime value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", value.month(), value.day(), value.year());
  return buffer;
}

std::string FormatMonthDayYear(const Value& value) {
  if (value.is_null()) return "";
  if (value.is_date()) return FormatMonthDayYear(value.date());
  if (value.is_text()) {
    if (auto date = DateTime::FromIso(value.text())) return FormatMonthDayYear(*date);
  }
  return ToText(value);
}

std::string FormatDollars(double value) {
  if (!std::isfinite(value)) return (value < 0 ? "-$" : "$") + GeneralNumber(std::fabs(value));
  if (value == 0) return "$0.00";
  const Decimal15 d = ToDecimal15(value);
  // Place the 15 digits on a fixed grid: integer digits, then the decimals, rounding at the
  // third decimal, half away from zero.
  const int integer_digits = d.exponent + 1;  // may be <= 0 for values below 1
  std::string grid;                           // all digits from the first integer digit
  int point = 0;                              // number of integer digits in grid
  if (integer_digits > 0) {
    grid = d.digits;
    if (static_cast<int>(grid.size()) < integer_digits + 3) {
      grid.append(static_cast<std::size_t>(integer_digits + 3) - grid.size(), '0');
    }
    point = integer_digits;
  } else {
    grid = std::string(static_cast<std::size_t>(1 - integer_digits), '0') + d.digits;
    grid.append(3, '0');
    point = 1;  // "0." then the leading zeros and digits
  }
  // Keep point + 2 digits, round on the next one.
  const std::size_t keep = static_cast<std::size_t>(point) + 2;
  const bool round_up = grid[keep] >= '5';
  grid.resize(keep);
  if (round_up) {
    int i = static_cast<int>(keep) - 1;
    for (; i >= 0; --i) {
      if (grid[static_cast<std::size_t>(i)] == '9') {
        grid[static_cast<std::size_t>(i)] = '0';
      } else {
        ++grid[static_cast<std::size_t>(i)];
        break;
      }
    }
    if (i < 0) grid.insert(grid.begin(), '1'), ++point;
  }
  std::string integer_part = grid.substr(0, static_cast<std::size_t>(point));
  const std::size_t first_nonzero = integer_part.find_first_not_of('0');
  integer_part = first_nonzero == std::string::npos ? "0" : integer_part.substr(first_nonzero);
  return std::string(d.negative ? "-$" : "$") + integer_part + "." +
         grid.substr(static_cast<std::size_t>(point), 2);
}

std::string ToText(const Value& value, std::string_view what) {
  switch (value.type()) {
    case Value::Type::kEmpty:
      return "";
    case Value::Type::kNull:
      ThrowInvalidUseOfNull(Describe(what));
    case Value::Type::kBoolean:
      return value.boolean() ? "True" : "False";
    case Value::Type::kInteger:
      return std::to_string(value.integer());
    case Value::Type::kDouble:
      return GeneralNumber(value.real());
    case Value::Type::kDateTime:
      return GeneralDate(value.date());
    case Value::Type::kText:
      return value.text();
  }
  return "";
}

double ToNumber(const Value& value, std::string_view what) {
  switch (value.type()) {
    case Value::Type::kEmpty:
      return 0;
    case Value::Type::kNull:
      ThrowInvalidUseOfNull(Describe(what));
    case Value::Type::kBoolean:
      return value.boolean() ? -1 : 0;
    case Value::Type::kInteger:
      return static_cast<double>(value.integer());
    case Value::Type::kDouble:
      return value.real();
    case Value::Type::kDateTime:
      return value.date().serial();
    case Value::Type::kText: {
      double parsed = 0;
      if (!ParseDecimal(value.text(), parsed)) {
        ThrowTypeMismatch(what.empty()
                              ? "\"" + value.text() + "\" is not a number"
                              : Describe(what) + ": \"" + value.text() + "\" is not a number");
      }
      if (std::isinf(parsed)) ThrowOverflow(Describe(what));
      return parsed;
    }
  }
  return 0;
}

std::int32_t ToWholeNumber(const Value& value, std::string_view what) {
  if (value.is_integer()) {
    const std::int64_t i = value.integer();
    if (i < std::numeric_limits<std::int32_t>::min() ||
        i > std::numeric_limits<std::int32_t>::max()) {
      ThrowOverflow(Describe(what));
    }
    return static_cast<std::int32_t>(i);
  }
  const double number = ToNumber(value, what);
  // Round half to even, as the platform's whole-number conversion does.
  const double rounded =
      number - std::floor(number) == 0.5 ? 2.0 * std::round(number / 2.0) : std::round(number);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) ThrowOverflow(Describe(what));
  return static_cast<std::int32_t>(rounded);
}

std::string JoinText(const Value& value) {
  return value.is_null() ? "" : ToText(value);
}

bool DiffersFromText(const Value& value, std::string_view text) {
  return !value.is_null() && ToText(value) != text;
}

bool EqualsTrue(const Value& value) {
  if (value.is_boolean()) return value.boolean();
  if (value.is_integer()) return value.integer() != 0;
  if (value.is_double()) return value.real() != 0;
  return false;
}

}  // namespace corvane
