// Tokens unique across runs, processes and machines: UTC time, process id, a counter of this
// generator and 64 random bits. Used for Message-ID left parts (RFC 5322 §3.6.4) and pickup
// file names. One generator per component, so nothing is shared between tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace corvane::mail {

class UniqueTokens {
 public:
  UniqueTokens();  // seeds its random bits from std::random_device

  // "20261208T063300.4711.000001.9f3a0c1d2e4b5a69": only letters, digits and dots (a dot-atom,
  // also a safe file name); names of one process sort in the order they were made.
  std::string Next();

 private:
  std::uint64_t counter_ = 0;
  std::mt19937_64 random_;
};

}  // namespace corvane::mail
