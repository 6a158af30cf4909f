// The run's reports on standard error: always one line. A report is built from its parts: the
// program's own words (its name, the kind of number, the stage), which are shown as they are,
// and the texts from outside (the description, which may quote a driver's or server's message,
// the row being handled, a library's code), which are mended here: their line breaks, tabs and
// other control characters (base/one_line.h), and their secrets (the run's SecretGuard).
#pragma once

#include <string>
#include <string_view>

#include "base/error.h"
#include "base/secret_guard.h"
#include "base/trace.h"

namespace corvane::run {

inline constexpr std::string_view kProgramName = "corvane-email-handler";

// `text` on one line (OneLineText), without blanks at the ends.
std::string OneLine(std::string_view text);
// `text` from outside on one line, masked.
GuardedText OneLineMasked(std::string_view text, const SecretGuard& guard);

// The report of `error` where `trace` (if any) says the run is, without the program's name and
// the line end. A classic number shows as
//   run-time error <number>: <description> [in <stage>, row <row>]
// and a code of a library, server or the system as theirs, under what failed:
//   mail error (curl 7): <description> [in <stage>]
GuardedText ReportBody(const Error& error, const RunTrace* trace, const SecretGuard& guard);
// "corvane-email-handler: <ReportBody>" and a line feed.
GuardedText ReportLine(const Error& error, const RunTrace* trace, const SecretGuard& guard);

// "corvane-email-handler: warning: <text>" and a line feed.
GuardedText WarningLine(const GuardedText& text);

}  // namespace corvane::run
