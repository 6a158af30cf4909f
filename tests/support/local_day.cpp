#include "support/local_day.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

namespace corvane::testing {

std::string IsoDate(DateTime day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", day.year(), day.month(), day.day());
  return text;
}

void OnOneDay(const std::function<void(DateTime today)>& body, const Clock& clock) {
  for (int attempt = 1;; ++attempt) {
    const DateTime today = clock.Today();
    ::testing::TestPartResultArray results;
    {
      // Held back until it is known whether this attempt counts.
      const ::testing::ScopedFakeTestPartResultReporter held(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
      try {
        body(today);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "exception: " << e.what();
      } catch (...) {
        ADD_FAILURE() << "an exception that is no std::exception";
      }
    }
    // Midnight does not pass twice within one test.
    if (clock.Today() == today || attempt == 2) {
      for (int i = 0; i < results.size(); ++i) {
        const ::testing::TestPartResult& result = results.GetTestPartResult(i);
        GTEST_MESSAGE_AT_(result.file_name(), result.line_number(), result.message(),
                          result.type());
      }
      return;
    }
  }
}

}  // namespace corvane::testing
