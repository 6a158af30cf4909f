// UTF-8 <-> UTF-16, for the wide-character ODBC calls: through them non-ASCII text reaches
// every driver intact, whatever character set the client environment names.
#pragma once

#include <string>
#include <string_view>

namespace corvane::data {

// Malformed UTF-8 becomes U+FFFD per bad byte.
std::u16string Utf8ToUtf16(std::string_view utf8);
// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace corvane::data
