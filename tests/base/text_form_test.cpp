#include "base/text_form.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "support/error_number.h"

namespace corvane {
namespace {

using ::corvane::testing::ErrorNumberOf;

TEST(TextForm, DatesUseTheUsGeneralDateForm) {
  EXPECT_EQ(GeneralDate(DateTime::FromParts(2026, 12, 7)), "12/7/2026");
  EXPECT_EQ(GeneralDate(DateTime::FromParts(2026, 12, 7, 15, 4, 5)), "12/7/2026 3:04:05 PM");
  EXPECT_EQ(GeneralDate(DateTime::FromParts(2026, 1, 2, 0, 0, 1)), "1/2/2026 12:00:01 AM");
  EXPECT_EQ(GeneralDate(DateTime::FromParts(2026, 1, 2, 12, 30, 0)), "1/2/2026 12:30:00 PM");
  // The zero date shows its time of day alone, midnight included.
  EXPECT_EQ(GeneralDate(DateTime::FromParts(1899, 12, 30, 9, 15, 0)), "9:15:00 AM");
  EXPECT_EQ(GeneralDate(DateTime()), "12:00:00 AM");
}

TEST(TextForm, NumbersUseTheGeneralForm) {
  EXPECT_EQ(GeneralNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(GeneralNumber(-25), "-25");
  EXPECT_EQ(GeneralNumber(-0.0), "0");
  EXPECT_EQ(GeneralNumber(1234.5), "1234.5");
  EXPECT_EQ(GeneralNumber(123456789012345.0), "123456789012345");
  EXPECT_EQ(GeneralNumber(1e15), "1E+15");
  EXPECT_EQ(GeneralNumber(0.0001), "0.0001");
  EXPECT_EQ(ToText(Value(9007199254740993LL)), "9007199254740993");  // whole numbers exact
  EXPECT_EQ(ToText(Value(true)), "True");
  EXPECT_EQ(ToText(Value(false)), "False");
  EXPECT_EQ(ToText(Value()), "");
}

TEST(TextForm, MonthDayYearPattern) {
  EXPECT_EQ(FormatMonthDayYear(DateTime::FromParts(2026, 3, 4, 17, 0, 0)), "03/04/2026");
  EXPECT_EQ(FormatMonthDayYear(Value(DateTime::FromParts(2026, 12, 31))), "12/31/2026");
  EXPECT_EQ(FormatMonthDayYear(Value("2027-01-09 08:00:00")), "01/09/2027");
  EXPECT_EQ(FormatMonthDayYear(Value::Null()), "");
}

TEST(TextForm, DollarPatternRoundsHalfAwayFromZeroOnTheDecimalValue) {
  EXPECT_EQ(FormatDollars(0), "$0.00");
  EXPECT_EQ(FormatDollars(-25), "-$25.00");
  EXPECT_EQ(FormatDollars(1234567.891), "$1234567.89");
  EXPECT_EQ(FormatDollars(2.675), "$2.68");  // binary 2.67499999... is decimal 2.675
  EXPECT_EQ(FormatDollars(1.005), "$1.01");
  EXPECT_EQ(FormatDollars(-1.005), "-$1.01");
  EXPECT_EQ(FormatDollars(0.004), "$0.00");
  EXPECT_EQ(FormatDollars(0.005), "$0.01");
  EXPECT_EQ(FormatDollars(9.995), "$10.00");
  EXPECT_EQ(FormatDollars(999.999), "$1000.00");
  EXPECT_EQ(FormatDollars(0.1 + 0.2), "$0.30");
  EXPECT_EQ(FormatDollars(1e20), "$100000000000000000000.00");
}

TEST(Conversions, StrictUseRefusesNull) {
  EXPECT_EQ(ErrorNumberOf([] { ToText(Value::Null()); }), 94);
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Value::Null()); }), 94);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value::Null()); }), 94);
}

TEST(Conversions, TextToNumber) {
  EXPECT_DOUBLE_EQ(ToNumber(Value(" 12.5 ")), 12.5);
  EXPECT_DOUBLE_EQ(ToNumber(Value("-3e2")), -300);
  EXPECT_DOUBLE_EQ(ToNumber(Value(".5")), 0.5);
  EXPECT_DOUBLE_EQ(ToNumber(Value(true)), -1);
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Value("abc")); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Value("")); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Value("12abc")); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { ToNumber(Value("1e999")); }), 6);
}

TEST(Conversions, WholeNumberRoundsHalvesToEven) {
  EXPECT_EQ(ToWholeNumber(Value("2.5")), 2);
  EXPECT_EQ(ToWholeNumber(Value("3.5")), 4);
  EXPECT_EQ(ToWholeNumber(Value("-2.5")), -2);
  EXPECT_EQ(ToWholeNumber(Value("2.6")), 3);
  EXPECT_EQ(ToWholeNumber(Value(" 7 ")), 7);
  EXPECT_EQ(ToWholeNumber(Value("-1")), -1);
  EXPECT_EQ(ToWholeNumber(Value("0")), 0);
  EXPECT_EQ(ToWholeNumber(Value("2147483647")), 2147483647);
  EXPECT_EQ(ToWholeNumber(Value("-2147483648")), -2147483647 - 1);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value("2147483648")); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value("2147483647.5")); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value(5000000000LL)); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value("ten")); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { ToWholeNumber(Value("")); }), 13);
}

TEST(Conversions, JoiningAndComparingTreatNullAsNothing) {
  EXPECT_EQ(JoinText(Value::Null()), "");
  EXPECT_EQ(JoinText(Value(12.25)), "12.25");
  EXPECT_FALSE(DiffersFromText(Value::Null(), ""));
  EXPECT_FALSE(DiffersFromText(Value(""), ""));
  EXPECT_TRUE(DiffersFromText(Value("   "), ""));  // blanks count as set
  EXPECT_TRUE(DiffersFromText(Value(0), ""));
}

TEST(Conversions, TruthOfStoredFlags) {
  EXPECT_TRUE(EqualsTrue(Value(true)));
  EXPECT_TRUE(EqualsTrue(Value(1)));
  EXPECT_TRUE(EqualsTrue(Value(-1)));
  EXPECT_FALSE(EqualsTrue(Value(false)));
  EXPECT_FALSE(EqualsTrue(Value(0)));
  EXPECT_FALSE(EqualsTrue(Value::Null()));
  EXPECT_FALSE(EqualsTrue(Value()));
  EXPECT_FALSE(EqualsTrue(Value("True")));
}

}  // namespace
}  // namespace corvane
