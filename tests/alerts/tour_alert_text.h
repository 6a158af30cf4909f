// The tour-drop alert's body as the tests expect it, built apart from the program's own code.
#pragma once

#include <string>
#include <string_view>

#include "base/date_time.h"
#include "base/text_form.h"

namespace corvane::testing {

// "MM/dd/yyyy" of `today` plus `days`, as the alert body writes it.
inline std::string EndDateText(DateTime today, int days) {
  return FormatMonthDayYear(today.AddDays(days));
}

inline std::string ExpectedBody(DateTime today, std::string_view customer, std::string_view tour,
                                int end_in_days, std::string_view invoice,
                                std::string_view balance) {
  return "The following Tour has an open invoice and is about to end:\r\n"
         "\r\n"
         "Customer: " +
         std::string(customer) +
         "\r\n"
         "Tour: " +
         std::string(tour) +
         "\r\n"
         "End Date: " +
         EndDateText(today, end_in_days) +
         "\r\n"
         "Invoice Number: " +
         std::string(invoice) +
         "\r\n"
         "Balance: " +
         std::string(balance) + "\r\n";
}

}  // namespace corvane::testing
