// The number of the Error a call ends with, or 0 when it returns normally.
#pragma once

#include "base/error.h"

namespace corvane::testing {

inline long ErrorNumberOf(auto&& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

}  // namespace corvane::testing
