#include "base/utf8.h"

#include <array>
#include <cstdint>

namespace corvane {

namespace {

// Windows-1252 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& c) {
  const auto lead = static_cast<std::uint8_t>(text[at]);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    c = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, c = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, c = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, c = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(text[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3Fu);
  }
  if (c < minimum || c > 0x10FFFF || IsSurrogate(c)) return 0;
  return length;
}

void AppendUtf8(std::string& out, char32_t c) {
  auto byte = [&](char32_t b) { out.push_back(static_cast<char>(static_cast<unsigned char>(b))); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  char32_t c = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = DecodeUtf8(text, i, c);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (const char ch : text) {
    if (static_cast<std::uint8_t>(ch) >= 0x80) return false;
  }
  return true;
}

std::string ToUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  for (const char ch : text) {
    const auto b = static_cast<std::uint8_t>(ch);
    if (b < 0x80) {
      out += ch;
    } else if (b < 0xA0) {
      AppendUtf8(out, kCp1252High[b - 0x80u]);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(utf8, i, c);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(kReplacementCharacter));
      ++i;
      continue;
    }
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00u);
      ++i;
    } else if (IsSurrogate(c)) {
      c = kReplacementCharacter;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace corvane
