// Test data dated relative to today, by the clock the program reads (local time, SystemClock),
// and a way for such a test not to fail because local midnight passed while it ran.
#pragma once

#include <functional>
#include <string>

#include "base/clock.h"
#include "base/date_time.h"

namespace corvane::testing {

// 'YYYY-MM-DD': an SQL date literal both engines read as that day.
std::string IsoDate(DateTime day);

// Runs `body` with today's local date. When the date has changed by the time it returns, the
// program under test may have read another day than the one its data was dated by: the body's
// failures are dropped and it runs once more, with the new date. So a body arranges everything
// it needs afresh (its own folder, servers, database) from the date it is given.
void OnOneDay(const std::function<void(DateTime today)>& body, const Clock& clock = SystemClock());

}  // namespace corvane::testing
