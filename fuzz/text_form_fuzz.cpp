// Any text through the conversions: only the documented errors, and the patterns keep their
// shape ("$" digits "." two digits, with an optional leading "-").
#include <cmath>
#include <cstdint>
#include <cstdlib>
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
      if (!IsDollarShape(corvane::FormatDollars(number))) std::abort();
      if (corvane::GeneralNumber(number).empty()) std::abort();
    }
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
