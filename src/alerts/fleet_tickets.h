// The fleet-ticket pass: every ticket not yet e-mailed goes to the company's maintenance
// address, and a second copy to the ticket's own notify address when it has one; then the
// ticket is marked as e-mailed and logged. A ticket is marked only after all of its messages
// were handed over, so a failure in between sends them again next time, never loses one.
#pragma once

#include <string_view>

#include "alerts/pass_context.h"

namespace corvane::alerts {

inline constexpr std::string_view kTicketQuery =
    "SELECT HM.*,Bus.Name AS BusName,D1.Name AS DriverName,D2.Name AS AddDriverName FROM "
    "HexmileTicket HM LEFT JOIN Bus ON HM.BusID = Bus.ID LEFT JOIN Driver D1 ON HM.DriverID = "
    "D1.ID LEFT JOIN Driver D2 ON HM.AddDriverID = D2.ID WHERE HM.EmailSent = 0 OR HM.EmailSent "
    "IS NULL";

void SendTicketAlerts(PassContext& context);

}  // namespace corvane::alerts
