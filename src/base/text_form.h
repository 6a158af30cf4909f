// Conversions of general values and their text forms under US-English regional settings:
// short date M/d/yyyy, long time h:mm:ss AM/PM, "." as the decimal separator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/date_time.h"
#include "base/value.h"

namespace corvane {

// --- Strict use: the value must be usable as asked, or the run ends. -------------------------
// `what` names the value in the error report (e.g. "column InvoiceNumber").

// Text form of the value; empty gives "". Null fails with 94.
std::string ToText(const Value& value, std::string_view what = {});
// Numeric value; empty gives 0, Booleans -1/0, dates their serial. Null fails with 94; text
// that is not a number fails with 13.
double ToNumber(const Value& value, std::string_view what = {});
// Whole 32-bit number: a fraction rounds to the nearest whole number, halves to even
// (2.5 -> 2, 3.5 -> 4). Null fails with 94, non-numeric text with 13, out of range with 6.
std::int32_t ToWholeNumber(const Value& value, std::string_view what = {});

// --- Joining into a message or a log line. ----------------------------------------------------

// Text form of the value; a Null joins as empty text.
std::string JoinText(const Value& value);

// --- Tests. -----------------------------------------------------------------------------------

// True only for a non-Null value whose text form differs from `text`; a Null is never "set".
bool DiffersFromText(const Value& value, std::string_view text);
// True for Boolean true and for a non-zero number (0/1 integer columns hold truth values);
// Null, empty, false, zero and text are not true.
bool EqualsTrue(const Value& value);

// --- Text forms. ------------------------------------------------------------------------------

// General date: "M/d/yyyy h:mm:ss AM/PM"; the time is left out at exactly midnight and the
// date is left out for the zero date.
std::string GeneralDate(DateTime value);
// General number: up to 15 significant digits, no exponent from 1E-05 up to below 1E+15.
std::string GeneralNumber(double value);
// "MM/dd/yyyy": two-digit month and day, four-digit year, any time of day dropped.
std::string FormatMonthDayYear(DateTime value);
// The same for a general value joined into a message: a Null joins as empty text, a date-time
// (or text holding an ISO date) is formatted, anything else joins in its text form.
std::string FormatMonthDayYear(const Value& value);
// "$0.00": two decimals rounded half away from zero on the value's 15-digit decimal form, no
// thousands separators; a negative value gets its minus sign before the dollar sign.
std::string FormatDollars(double value);

}  // namespace corvane
