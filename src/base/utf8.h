// UTF-8: one decoder and encoder for the whole program. Text reaches the mail as UTF-8, and the
// wide-character ODBC calls as UTF-16, whatever character set the environment names. The stored
// databases were written on Windows, so a text that is not valid UTF-8 is taken to be
// Windows-1252 (the ANSI code page those programs wrote) and converted, rather than refused or
// passed on as bytes no reader can decode.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character that starts at text[at] into `c`; returns its length in bytes, or 0 for
// a malformed sequence (cut short, overlong, a surrogate or above U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& c);
void AppendUtf8(std::string& out, char32_t c);

// True for well-formed UTF-8.
bool IsValidUtf8(std::string_view text);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

// `text` unchanged when it is valid UTF-8; otherwise every byte read as Windows-1252 and
// written as UTF-8. The five bytes that code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 code points of the same value, as Windows converts them.
std::string ToUtf8(std::string_view text);

// Malformed UTF-8 becomes U+FFFD per bad byte.
std::u16string Utf8ToUtf16(std::string_view utf8);
// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace corvane
