#include "base/guarded_text.h"

#include <charconv>

namespace corvane {

GuardedText GuardedText::Number(long long value) {
  return GuardedText(std::to_string(value));
}

GuardedText GuardedText::Number(double value, int decimals) {
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return GuardedText(std::string(text, result.ptr));
}

}  // namespace corvane
