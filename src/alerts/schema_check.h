// What the three passes need of the database, checked without sending or writing anything: for
// an operator's check of a setup before the day an alert is due.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/date_time.h"
#include "data/connection.h"

namespace corvane::alerts {

// Runs the tour-drop pass's query for [today, today + days] and its balance lookup, and with
// `fleet` the ticket and action queries too, and checks that every column each pass reads by
// name is returned and, for the fleet passes, that each EmailSent mark has a row to go to (a table
// column with a primary key the query returns). Nothing is written. Returns the tables checked,
// on one line. Fails with the database's error, or "Item not found" (3265) naming a missing
// column and the pass.
std::string CheckSchema(data::Connection& gConn, DateTime today, std::int32_t days, bool fleet);

// Whether the login may write the fleet passes' EmailSent marks (HexmileTicket, HexmileAction),
// asked of the engine without writing. Returns what was found, or nullopt where the engine
// cannot tell. Fails ("Permission denied", kDatabase) naming the table the login may not update.
std::optional<std::string> CheckMarkPrivileges(data::Connection& gConn);

}  // namespace corvane::alerts
