#include "run/settings_owner.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/error.h"

namespace corvane::run {

namespace {

[[noreturn]] void ThrowCannotSwitch(const std::string& account, const char* step, int error) {
  throw Error(ErrorKind::kSystem, errnum::kPermissionDenied,
              "Permission denied: cannot run as " + account +
                  ", the owner of the settings file: " + step + ": " + std::strerror(error));
}

}  // namespace

std::optional<std::string> RunAsSettingsOwner(const std::filesystem::path& settings_file) {
  if (::geteuid() != 0) return std::nullopt;
  struct stat info {};
  if (::stat(settings_file.c_str(), &info) != 0 || info.st_uid == 0) return std::nullopt;

  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16 * 1024);
  if (::getpwuid_r(info.st_uid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr) {
    throw Error(ErrorKind::kUnsafe, errnum::kPermissionDenied,
                "Permission denied: the settings file " + settings_file.string() +
                    " belongs to uid " + std::to_string(info.st_uid) +
                    ", which has no account here to run as. Fix: chown <account> " +
                    settings_file.string() + ", the account the program is to run as");
  }
  const std::string account = found->pw_name;
  const std::string home = found->pw_dir;
  const uid_t uid = found->pw_uid;
  const gid_t gid = found->pw_gid;
  // Groups first and the user last: once the user is changed, neither can be.
  if (::initgroups(account.c_str(), gid) != 0) ThrowCannotSwitch(account, "initgroups", errno);
  if (::setgid(gid) != 0) ThrowCannotSwitch(account, "setgid", errno);
  if (::setuid(uid) != 0) ThrowCannotSwitch(account, "setuid", errno);
  if (::setuid(0) == 0 || ::geteuid() != uid || ::getegid() != gid) {
    ThrowCannotSwitch(account, "root could be taken back", EPERM);
  }
  // Before any thread: the environment is read without a lock.
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("USER", account.c_str(), 1);
  ::setenv("LOGNAME", account.c_str(), 1);
  return account;
}

}  // namespace corvane::run
