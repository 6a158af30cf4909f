// What stamps each message as its own: the Date header's text (RFC 5322 §3.3) and unique tokens
// for Message-ID left parts (§3.6.4) and pickup file names.
#pragma once

#include <cstdint>
#include <ctime>
#include <random>
#include <string>

namespace corvane::mail {

// "Tue, 08 Dec 2026 06:33:00 +0100": `local` as filled by localtime_r (tm_gmtoff gives the
// offset), English day and month names whatever the locale.
std::string FormatMailDate(const std::tm& local);
// The current local time in that form.
std::string MailDateNow();

// Tokens unique across runs, processes and machines: UTC time, process id, a counter of this
// generator and 64 random bits. One generator per component, so nothing is shared between tests.
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
