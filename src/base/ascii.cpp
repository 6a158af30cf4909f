#include "base/ascii.h"

namespace corvane {

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLowerAscii(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerAscii(a[i]) != ToLowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimBlanksAndLineEnds(std::string_view text) {
  while (!text.empty() && IsBlankOrLineEnd(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankOrLineEnd(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace corvane
