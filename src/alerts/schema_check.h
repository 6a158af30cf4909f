// What the three passes need of the database, checked without sending or writing anything: for
// an operator's check of a setup before the day an alert is due.
#pragma once

#include <cstdint>
#include <string>

#include "base/date_time.h"
#include "data/connection.h"

namespace corvane::alerts {

// Runs each pass's own query (the tour-drop query for [today, today + days], the balance
// lookup, the ticket and action queries), checks that every column the pass reads by name is
// returned, and that the EmailSent marks could be written (a table column with a primary key
// the query returns). Nothing is written. Returns the tables checked, on one line. Fails with the
// database's error, or "Item not found" (3265) naming a missing column and the pass.
std::string CheckSchema(data::Connection& gConn, DateTime today, std::int32_t days);

}  // namespace corvane::alerts
