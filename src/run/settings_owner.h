// Started as root, a command runs as the account that owns its settings file, as daemons that
// start as root do. Root could read, connect and write with more than the account the settings
// were made for (the package's service user, whose config.txt is its own, mode 0600), and any
// file a root run makes would be root's. The switch comes before anything is read: the settings,
// the CA file, the database. A settings file that root owns keeps the process root's (a program
// folder installed as root from the source).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvane::run {

// When the process is root and `settings_file` (its final target, through links: the file that
// will be read) belongs to another account, takes that account's groups (initgroups), group and
// user, makes sure root cannot be taken back, sets HOME, USER and LOGNAME as `runuser -u` does,
// and returns the account's name. Otherwise (not root, root's file, or no file to look at:
// reading it says why) changes nothing and returns nullopt. Fails (kUnsafe, 70) for an owner
// with no account here, (kSystem, 70) when the switch cannot be made whole.
std::optional<std::string> RunAsSettingsOwner(const std::filesystem::path& settings_file);

}  // namespace corvane::run
