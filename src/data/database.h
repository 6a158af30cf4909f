// The shared connection of a run.
#pragma once

#include <filesystem>
#include <memory>

#include "base/run_settings.h"
#include "data/connection.h"

namespace corvane::data {

// Opens gConn with gConnectString followed by the password part, a 10-second time-out.
std::unique_ptr<Connection> OpenDatabase(const RunSettings& settings,
                                         const std::filesystem::path& program_folder);

// Closes gConn, then ends the process.
[[noreturn]] void CloseAndEnd(Connection& gConn);

}  // namespace corvane::data
