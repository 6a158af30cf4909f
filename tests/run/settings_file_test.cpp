#include "run/settings_file.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "run/program_identity.h"
#include "support/error_number.h"
#include "support/temp_dir.h"

namespace corvane::run {
namespace {

using ::corvane::testing::TempDir;
using ::corvane::testing::WriteFile;
using Items = std::vector<std::string>;

using ::corvane::testing::ErrorNumberOf;

// The usual layout: one item, then six lines of two items.
constexpr std::string_view kUsualFile =
    "Corvane\r\n"
    "Connection,\"Provider=SQLite;Data Source=fleet.db;\"\r\n"
    "Item3,three\r\n"
    "Item4,four\r\n"
    "Item5,five\r\n"
    "AlertTo,ops@example.com\r\n"
    "AlertDays,7\r\n";

TEST(SettingsReader, ReadsTheUsualLayoutIntoTheSixValues) {
  TempDir folder;
  WriteFile(folder / "config.txt", kUsualFile);
  RunSettings settings;
  ReadConfig(folder.path(), ExecutablePath(), settings);
  EXPECT_EQ(settings.gConnectString, "Provider=SQLite;Data Source=fleet.db;");
  EXPECT_EQ(settings.gConfigItem3, "three");
  EXPECT_EQ(settings.gConfigItem4, "four");
  EXPECT_EQ(settings.gConfigItem5, "five");
  EXPECT_EQ(settings.gTourAlertTo, "ops@example.com");
  EXPECT_EQ(settings.gTourAlertDays, "7");
}

TEST(SettingsReader, QuotedItemsAreTakenWholeWithTheirCommas) {
  EXPECT_EQ(ReadSequentialItems("\"a,b;c\",d", 2), (Items{"a,b;c", "d"}));
  // A quoted item may span a line end; what follows its closing quote up to the separator
  // is dropped.
  EXPECT_EQ(ReadSequentialItems("\"one\r\ntwo\" junk,x", 2), (Items{"one\r\ntwo", "x"}));
  // A quote inside an unquoted item stays.
  EXPECT_EQ(ReadSequentialItems("ab\"c,d", 2), (Items{"ab\"c", "d"}));
  // An unterminated quote runs to the end of the file.
  EXPECT_EQ(ReadSequentialItems("\"open,end", 1), (Items{"open,end"}));
}

TEST(SettingsReader, BlanksLineEndsAndByteOrderMark) {
  EXPECT_EQ(ReadSequentialItems("  a  ,\tb \n c", 3), (Items{"a", "b", "c"}));
  EXPECT_EQ(ReadSequentialItems("a\r\nb\rc\nd", 4), (Items{"a", "b", "c", "d"}));
  EXPECT_EQ(ReadSequentialItems("\xEF\xBB\xBFname,x", 2), (Items{"name", "x"}));
  // A byte-order mark is skipped only at the very start.
  EXPECT_EQ(ReadSequentialItems("a,\xEF\xBB\xBF", 2), (Items{"a", "\xEF\xBB\xBF"}));
  // An empty line and an empty field are empty items.
  EXPECT_EQ(ReadSequentialItems("a\n\nb,,c", 5), (Items{"a", "", "b", "", "c"}));
  EXPECT_EQ(ReadSequentialItems("\"\",x", 2), (Items{"", "x"}));
}

TEST(SettingsReader, ExactlyThirteenItemsWithNothingAfter) {
  TempDir folder;
  WriteFile(folder / "config.txt", "1,2,3,4,5,6,7,8,9,10,11,12,13");
  RunSettings settings;
  ReadConfig(folder.path(), ExecutablePath(), settings);
  EXPECT_EQ(settings.gConnectString, "3");
  EXPECT_EQ(settings.gTourAlertDays, "13");
}

TEST(SettingsReader, ShortFilesEndWithInputPastEndOfFile) {
  EXPECT_EQ(ErrorNumberOf([] { ReadSequentialItems("", 1); }), 62);
  EXPECT_EQ(ErrorNumberOf([] { ReadSequentialItems("a,b\r\n", 3); }), 62);
  EXPECT_EQ(ErrorNumberOf([] { ReadSequentialItems("a,b\r\n   ", 3); }), 62);
  TempDir folder;
  WriteFile(folder / "config.txt", "1,2,3,4,5,6,7,8,9,10,11,12\r\n");
  RunSettings settings;
  EXPECT_EQ(ErrorNumberOf([&] { ReadConfig(folder.path(), ExecutablePath(), settings); }), 62);
}

TEST(SettingsReader, MissingFileIsFileNotFound) {
  TempDir folder;
  RunSettings settings;
  try {
    ReadConfig(folder.path(), ExecutablePath(), settings);
    FAIL() << "no error for a missing config.txt";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), 53);
    EXPECT_EQ(error.kind(), ErrorKind::kSettings);
    EXPECT_NE(error.description().find("config.txt"), std::string::npos);
  }
}

TEST(SettingsReader, AFolderNamedLikeTheFileIsNotReadAsSettings) {
  TempDir folder;
  std::filesystem::create_directory(folder / "config.txt");
  RunSettings settings;
  EXPECT_THROW(ReadConfig(folder.path(), ExecutablePath(), settings), Error);
}

}  // namespace
}  // namespace corvane::run
