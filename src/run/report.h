// The run's reports on standard error: always one line, never a secret. A report is built from
// its parts: the program's own prefix and words, and the texts from outside (the description,
// which may quote a driver's or server's message, and the row being handled). Only those are
// mended here, the one place every report passes through: their line breaks, tabs and other
// control characters (base/one_line.h), and their secrets.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace corvane::run {

inline constexpr std::string_view kProgramName = "corvane-email-handler";

// `text` on one line (OneLineText), without blanks at the ends.
std::string OneLine(std::string_view text);

// `text` with the value of every PWD= and Password= part, read as a connection string reads it
// (data/connection_string.h), and every one of `secrets` (where not empty) shown as "****".
std::string MaskSecrets(std::string_view text, std::span<const std::string> secrets);

// "corvane-email-handler: run-time error <number>: <description> [in <where>]" and a line
// feed, on one line. `where` is "<stage>" or "<stage>, row <row>"; the description and the row
// are masked, the prefix and the stage are the program's own and shown as they are.
std::string ReportLine(long number, std::string_view description, std::string_view where,
                       std::span<const std::string> secrets);

// "corvane-email-handler: warning: <text>" and a line feed, on one line, masked: something the
// run's result does not depend on (a monitor that failed, a message the ledger skipped).
std::string WarningLine(std::string_view text, std::span<const std::string> secrets);

}  // namespace corvane::run
