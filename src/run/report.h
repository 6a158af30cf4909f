// The run's reports on standard error: always one line, never a secret. A driver's or server's
// text may hold line breaks and tabs of its own, and a connection string echoed in a message
// holds the password part: both are mended here, the one place every report passes through.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace corvane::run {

inline constexpr std::string_view kProgramName = "corvane-email-handler";

// `text` on one line: each run of line breaks and tabs becomes one blank, any other control
// character a \xNN escape; blanks at the ends go.
std::string OneLine(std::string_view text);

// `text` with the value of every PWD= and Password= part (up to the next ';') and every one of
// `secrets` (where not empty) shown as "****".
std::string MaskSecrets(std::string_view text, std::span<const std::string> secrets);

// "corvane-email-handler: run-time error <number>: <description> [in <where>]" and a line
// feed, on one line and with the secrets masked.
std::string ReportLine(long number, std::string_view description, std::string_view where,
                       std::span<const std::string> secrets);

}  // namespace corvane::run
