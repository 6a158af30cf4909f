// The classic number of the Error a call ends with, or 0 when it returns normally. An Error that
// carries a library's, server's or the system's code fails the test: its number means what that
// library says, never what the classic table says.
#pragma once

#include <gtest/gtest.h>

#include "base/error.h"

namespace corvane::testing {

inline long ErrorNumberOf(auto&& call) {
  try {
    call();
  } catch (const Error& error) {
    EXPECT_EQ(error.code(), "") << "not a classic number: " << error.what();
    return error.number();
  }
  return 0;
}

}  // namespace corvane::testing
