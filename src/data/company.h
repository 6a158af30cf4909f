// The company's details and mail settings, read once at start-up from the first Company row.
#pragma once

#include "base/run_settings.h"
#include "data/connection.h"

namespace corvane::data {

// Reads the sixteen columns of the first Company row into `settings` (strictly: a Null or a
// missing column fails) and sets company_loaded. An empty table leaves the settings untouched.
void LoadCompany(Connection& gConn, RunSettings& settings);

}  // namespace corvane::data
