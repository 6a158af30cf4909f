#include "base/owner_check.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>

#include "base/error.h"

namespace corvane {

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "uid " + std::to_string(uid);
}

void CheckOnlyRunnerControls(const struct stat& info, const std::filesystem::path& path,
                             std::string_view what, std::string_view harm, mode_t forbidden) {
  const uid_t me = ::geteuid();
  const std::string subject = "Permission denied: " + std::string(what) + " " + path.string();
  if (info.st_uid != me && info.st_uid != 0) {
    const std::string owner = UserName(info.st_uid);
    const std::string owners = me == 0 ? "root" : "root or " + UserName(me);
    // Root is never told to take an account's files over: a start as root on settings that
    // account owns runs as that account.
    const std::string fix = me == 0 ? "run the program as " + owner + " (runuser -u " + owner +
                                          " -- ...), or give the settings file to " + owner
                                    : "chown " + UserName(me) + " " + path.string();
    throw Error(ErrorKind::kUnsafe, errnum::kPermissionDenied,
                subject + " belongs to " + owner + "; only " + owners +
                    ", who runs the program, may own it, or its owner could " + std::string(harm) +
                    ". Fix: " + fix);
  }
  if ((info.st_mode & forbidden) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const bool opening = (forbidden & (S_IRGRP | S_IROTH)) != 0;
    throw Error(ErrorKind::kUnsafe, errnum::kPermissionDenied,
                subject + (opening ? " can be opened" : " can be changed") + " by others (mode " +
                    mode + "); they could " + std::string(harm) +
                    (opening ? ". Fix: chmod go-rwx " : ". Fix: chmod go-w ") + path.string());
  }
}

}  // namespace corvane
