// Text for the message as UTF-8. The stored databases were written on Windows, so a text that is
// not valid UTF-8 is taken to be Windows-1252 (the ANSI code page those programs wrote) and
// converted, rather than refused or passed on as bytes no reader can decode.
#pragma once

#include <string>
#include <string_view>

namespace corvane::mail {

// True for well-formed UTF-8 (no overlong forms, surrogates or code points above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` unchanged when it is valid UTF-8; otherwise every byte read as Windows-1252 and
// written as UTF-8. The five bytes that code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) become the C1 code points of the same value, as Windows converts them.
std::string ToUtf8(std::string_view text);

// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

}  // namespace corvane::mail
