// The fleet-action pass: every action on a ticket not yet e-mailed goes to the ticket's drivers
// (when the action asks for it) and to the action's further notify address; then the action
// (never its ticket) is marked as e-mailed and logged, also when nobody was to be told.
#pragma once

#include <string_view>

#include "alerts/pass_context.h"

namespace corvane::alerts {

inline constexpr std::string_view kActionQuery =
    "SELECT HM.ID AS TicketID,HM.TicketDate,HM.Miles,HM.Location,HM.Priority,HM.Status,"
    "HM.AltReplyEmail,HM.Description,HM.EnteredDate AS TktEnteredDate,Hm.EnteredBy AS "
    "TktEnteredBy,Bus.Name AS BusName,D1.Name AS DriverName, D1.Email AS D1Email,D2.Name AS "
    "AddDriverName,D2.Email AS D2Email,Act.ID AS ActID,Act.ActionDate,Act.EmailDriver,"
    "Act.AddNotifyEmail,Act.Description AS ActDescription,Act.EnteredBy AS ActEnteredBy, "
    "Act.EnteredDate AS ActEnteredDate, Act.EmailSent FROM HexmileAction Act LEFT JOIN "
    "HexmileTicket HM ON Act.TicketID = HM.ID LEFT JOIN Bus ON HM.BusID = Bus.ID LEFT JOIN Driver "
    "D1 ON HM.DriverID = D1.ID LEFT JOIN Driver D2 ON HM.AddDriverID = D2.ID WHERE Act.EmailSent "
    "= 0 OR Act.EmailSent IS NULL";

// The separator between the ticket and the action in every body (59 characters).
inline constexpr std::string_view kActionSeparator =
    "========================== ACTION =========================";

void SendActionAlerts(PassContext& context);

}  // namespace corvane::alerts
