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

std::string PercentDecoded(std::string_view encoded, bool& complete) {
  complete = true;
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const int high =
        encoded[i] == '%' && i + 2 < encoded.size() ? HexDigitValue(encoded[i + 1]) : -1;
    const int low = high >= 0 ? HexDigitValue(encoded[i + 2]) : -1;
    if (low < 0) {
      complete = complete && encoded[i] != '%';
      out += encoded[i];
      continue;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

}  // namespace corvane
