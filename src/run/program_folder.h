// The folder that holds the program's executable: where config.txt lives, whatever the working
// directory (cron starts jobs in the home folder or in /).
#pragma once

#include <filesystem>

namespace corvane::run {

// The executable's own path, from /proc/self/exe (links resolved).
std::filesystem::path ExecutablePath();
std::filesystem::path ProgramFolder();

}  // namespace corvane::run
