// ASCII character classes, case-insensitive comparison and trimming, for keywords, names and
// protocol text. These are ASCII whatever the locale, so <cctype> (whose answers follow the
// locale, and which is undefined for negative chars) is not used for them.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

constexpr bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool IsAsciiAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr bool IsAsciiAlnum(char c) {
  return IsAsciiAlpha(c) || IsAsciiDigit(c);
}
// Printable ASCII, the blank included: 0x20..0x7E.
constexpr bool IsAsciiPrintable(char c) {
  return c >= 0x20 && c <= 0x7E;
}
// A blank: space or tab.
constexpr bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
// A blank or a line end: space, tab, CR or LF.
constexpr bool IsBlankOrLineEnd(char c) {
  return IsBlank(c) || c == '\r' || c == '\n';
}
// The value of a hexadecimal digit (either letter case), or -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
constexpr char ToLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ToLowerAscii(std::string_view text);
// Equal but for the letter case of ASCII letters ('@' and '`' stay different).
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Without the blanks (space, tab) at either end.
std::string_view TrimBlanks(std::string_view text);
// Without blanks and line ends at either end.
std::string_view TrimBlanksAndLineEnds(std::string_view text);

// `encoded` with each %XX undone; a '%' not followed by two hex digits stays as it is and
// makes `complete` false.
std::string PercentDecoded(std::string_view encoded, bool& complete);

}  // namespace corvane
