// The text helpers every floor shares: ASCII classes and comparison, and the UTF-8 codec.
#include <gtest/gtest.h>

#include "base/ascii.h"
#include "base/utf8.h"

namespace corvane {
namespace {

TEST(Ascii, ComparesLettersWithoutCaseAndNothingElse) {
  EXPECT_TRUE(EqualsNoCase("8BITMIME", "8bitmime"));
  EXPECT_TRUE(StartsWithNoCase("SMTPS://host", "smtps://"));
  // Folding by setting bit 0x20 would take '@' for '`' and '[' for '{'.
  EXPECT_FALSE(EqualsNoCase("a@b", "a`b"));
  EXPECT_FALSE(EqualsNoCase("[x]", "{x}"));
  EXPECT_FALSE(EqualsNoCase("\xC4", "\xE4"));  // bytes above ASCII are not letters
  EXPECT_EQ(ToLowerAscii("Data Source=\xC4X"), "data source=\xC4x");
  EXPECT_EQ(TrimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(TrimBlanks("\r\na\r\n"), "\r\na\r\n");
  EXPECT_EQ(TrimBlanksAndLineEnds(" \r\n a \t\n"), "a");
}

TEST(Utf8, InvalidUtf8IsTakenAsWindows1252) {
  EXPECT_EQ(ToUtf8("Grüße €"), "Grüße €");
  EXPECT_EQ(ToUtf8("caf\xE9 \x80 5 \x93quoted\x94 \x81"), "café € 5 “quoted” \xC2\x81");
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x9A\x8C bus"));
}

TEST(Utf8, Utf16RoundTripsAndReplacesMalformedInput) {
  const std::string text = "Jörg – ✓ 🚌";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("🚌").size(), 2u);               // a surrogate pair
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");          // cut short
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong '/'
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace corvane
