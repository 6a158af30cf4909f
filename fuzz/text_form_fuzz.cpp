// Any text through the conversions: only the documented errors; the patterns keep their shape
// ("$" digits "." two digits, with an optional leading "-") and their value; the whole-number
// conversion rounds half to even within the 32-bit range and fails outside it; a number's text
// form reads back as the same number to 15 digits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/text_form.h"

namespace {

bool IsDollarShape(const std::string& text) {
  std::size_t i = text.rfind('-', 0) == 0 ? 1 : 0;
  if (text.compare(i, 1, "$") != 0) return false;
  ++i;
  const std::size_t point = text.find('.', i);
  if (point == std::string::npos || point == i || text.size() != point + 3) return false;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (k != point && (text[k] < '0' || text[k] > '9')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const corvane::Value value(text);
  try {
    const double number = corvane::ToNumber(value);
    if (std::isfinite(number) && std::fabs(number) < 1e300) {
      const std::string dollars = corvane::FormatDollars(number);
      if (!IsDollarShape(dollars)) std::abort();
      if (std::fabs(number) < 1e12) {
        const double shown = std::strtod(dollars.c_str() + dollars.find('$') + 1, nullptr);
        if (std::fabs(shown - std::fabs(number)) > 0.005 + std::fabs(number) * 1e-14) std::abort();
      }
      const std::string general = corvane::GeneralNumber(number);
      const double back = corvane::ToNumber(corvane::Value(general));
      if (std::fabs(back - number) > std::fabs(number) * 1e-14 + 1e-300) std::abort();
    }
    // Half to even, as std::nearbyint rounds in the default mode.
    const double rounded = std::nearbyint(number);
    const bool in_range = rounded >= -2147483648.0 && rounded <= 2147483647.0;
    std::optional<std::int32_t> whole;
    try {
      whole = corvane::ToWholeNumber(value);
    } catch (const corvane::Error& error) {
      if (error.number() != corvane::errnum::kOverflow) std::abort();
    }
    if (whole.has_value() != in_range) std::abort();
    if (whole && *whole != static_cast<std::int32_t>(rounded)) std::abort();
  } catch (const corvane::Error& error) {
    if (error.number() != corvane::errnum::kTypeMismatch &&
        error.number() != corvane::errnum::kOverflow) {
      std::abort();
    }
  }
  try {
    (void)corvane::ToWholeNumber(value);
  } catch (const corvane::Error& error) {
    if (error.number() != corvane::errnum::kTypeMismatch &&
        error.number() != corvane::errnum::kOverflow) {
      std::abort();
    }
  }
  if (auto date = corvane::DateTime::FromIso(text)) {
    if (corvane::FormatMonthDayYear(*date).size() != 10) std::abort();
  }
  return 0;
}
