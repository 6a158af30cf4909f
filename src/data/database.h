// The shared connection of a run.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "base/run_settings.h"
#include "base/wait_watch.h"
#include "data/connection.h"

namespace corvane::data {

// The password part the program adds to a connection string that has none; reports never show
// it.
inline constexpr std::string_view kPasswordValue = "vantorel";

// gConnectString as it is when it has a password part of its own (PWD or Password, any letter
// case): the operator's password is the one used. Otherwise gConnectString followed by the
// built-in password part. Where gConnectString does not end with ';' one is put between them:
// run together, the password would become part of the last value (a file name, a user name) and
// show up in messages about it.
std::string FullConnectionString(const std::string& gConnectString);

// The password the connection made from gConnectString uses: the last PWD or Password part
// written in it, else the built-in one. What reports must mask.
std::string DatabasePassword(const std::string& gConnectString);

// Opens gConn with the full connection string, a 10-second time-out for connecting and the
// statement limit the string's Command Timeout gives. `watch`, when given, enforces the limits
// in the program itself as well. `read_only`: see ConnectOptions.
std::unique_ptr<Connection> OpenDatabase(const RunSettings& settings,
                                         const std::filesystem::path& program_folder,
                                         WaitWatch* watch = nullptr, bool read_only = false);

// Closes gConn, then ends the process.
[[noreturn]] void CloseAndEnd(Connection& gConn);

}  // namespace corvane::data
