// The tour-drop pass: every contracted tour that ends between today and gTourAlertDays days
// ahead while its newest daily or monthly invoice still shows a balance (a credit too) gets one
// e-mail to gTourAlertTo and one log line. It changes nothing in the database, so every run
// reports every tour that still qualifies.
#pragma once

#include <string>
#include <string_view>

#include "alerts/pass_context.h"
#include "base/date_time.h"

namespace corvane::alerts {

// The operator's fixed sender address of every tour-drop alert.
inline constexpr std::string_view TourAlertSender = "alerts@corvanetours.com";

// The pass's query for the window [lower, upper], both midnight values.
std::string TourDropQuery(DateTime lower, DateTime upper);
// The balance lookup; the invoice number is bound to its placeholder.
inline constexpr std::string_view kBalanceQuery =
    "SELECT InvoiceTotal - Paid AS Balance FROM Invoice WHERE ID = ?";

void CheckTourDrops(PassContext& context);

// The balance (InvoiceTotal - Paid) of the invoice, 0 when it is not found, through
// `balance_query` (kBalanceQuery prepared once for the pass). `invoice_number` must be a plain
// whole number: it is bound as a parameter, never joined into the query.
double GetInvoiceBalance(data::PreparedStatement& balance_query, const std::string& invoice_number);

}  // namespace corvane::alerts
