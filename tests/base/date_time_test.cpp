#include "base/date_time.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace corvane {
namespace {

TEST(DateTime, ReadsIsoTextOfDatesAndTimestamps) {
  EXPECT_EQ(DateTime::FromIso("2026-12-07"), DateTime::FromParts(2026, 12, 7));
  EXPECT_EQ(DateTime::FromIso("2026-12-07 10:30:15"), DateTime::FromParts(2026, 12, 7, 10, 30, 15));
  EXPECT_EQ(DateTime::FromIso("2026-12-07T10:30"), DateTime::FromParts(2026, 12, 7, 10, 30));
  EXPECT_EQ(DateTime::FromIso("2026-12-07 10:30:15.250"),
            DateTime::FromParts(2026, 12, 7, 10, 30, 15));
  EXPECT_FALSE(DateTime::FromIso("12/7/2026"));
  EXPECT_FALSE(DateTime::FromIso("2026-02-30"));
  EXPECT_FALSE(DateTime::FromIso("2026-12-07 25:00"));
  EXPECT_FALSE(DateTime::FromIso("2026-12-07x"));
}

TEST(DateTime, AddsCalendarDaysWithinTheDateRange) {
  const DateTime day = DateTime::FromParts(2026, 12, 30, 8, 0, 0);
  EXPECT_EQ(day.AddDays(2), DateTime::FromParts(2027, 1, 1, 8, 0, 0));
  EXPECT_EQ(day.AddDays(-365), DateTime::FromParts(2025, 12, 30, 8, 0, 0));
  EXPECT_EQ(DateTime::FromParts(2028, 2, 28).AddDays(1), DateTime::FromParts(2028, 2, 29));
  try {
    day.AddDays(2147483647);
    FAIL() << "a date past 9999 was accepted";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), 5);
  }
  EXPECT_THROW(DateTime::FromParts(9999, 12, 31).AddDays(1), Error);
}

TEST(DateTime, KnowsMidnightAndTheZeroDate) {
  EXPECT_TRUE(DateTime().is_zero_date());
  EXPECT_TRUE(DateTime().is_midnight());
  EXPECT_FALSE(DateTime::FromParts(2026, 1, 1, 0, 0, 1).is_midnight());
  EXPECT_EQ(DateTime::FromParts(2026, 1, 1, 13, 0, 0).date_only(), DateTime::FromParts(2026, 1, 1));
  EXPECT_DOUBLE_EQ(DateTime::FromParts(1900, 1, 1, 12, 0, 0).serial(), 2.5);
}

}  // namespace
}  // namespace corvane
