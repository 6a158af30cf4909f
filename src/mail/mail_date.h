// The Date header's text (RFC 5322 §3.3): "Tue, 08 Dec 2026 06:33:00 +0100", local time with
// its offset from UTC, English day and month names whatever the locale.
#pragma once

#include <ctime>
#include <string>

namespace corvane::mail {

// `local` as filled by localtime_r (tm_gmtoff gives the offset).
std::string FormatMailDate(const std::tm& local);

// The current local time in that form.
std::string MailDateNow();

}  // namespace corvane::mail
