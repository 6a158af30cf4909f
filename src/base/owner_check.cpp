#include "base/owner_check.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <deque>

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

void CheckWayToFile(const std::filesystem::path& path, std::string_view what,
                    std::string_view harm) {
  namespace fs = std::filesystem;
  constexpr int kMostLinks = 40;  // as the kernel's own limit: a loop ends here
  const std::string folder_what = "the folder on the way to " + std::string(what);
  const auto check_folder = [&](const fs::path& folder) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return false;
    const bool sticky_root = info.st_uid == 0 && (info.st_mode & S_ISVTX) != 0;
    CheckOnlyRunnerControls(info, folder, folder_what, harm, sticky_root ? 0 : (S_IWGRP | S_IWOTH));
    return true;
  };
  std::deque<fs::path> left;
  for (const fs::path& part : fs::absolute(path).relative_path()) left.push_back(part);
  fs::path reached = "/";
  if (!check_folder(reached)) return;
  int links = 0;
  while (!left.empty()) {
    const fs::path part = left.front();
    left.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      reached = reached.parent_path();  // checked on the way down already
      continue;
    }
    const fs::path next = reached / part;
    struct stat info {};
    if (::lstat(next.c_str(), &info) != 0) return;
    if (S_ISLNK(info.st_mode)) {
      CheckOnlyRunnerControls(info, next, "the link on the way to " + std::string(what), harm, 0);
      std::error_code error;
      const fs::path target = fs::read_symlink(next, error);
      if (error || ++links > kMostLinks) return;
      const fs::path relative = target.relative_path();
      std::deque<fs::path> parts(relative.begin(), relative.end());
      left.insert(left.begin(), parts.begin(), parts.end());  // the target's parts come first
      if (target.is_absolute()) reached = "/";
      continue;
    }
    if (!S_ISDIR(info.st_mode)) return;  // the file itself: the caller checks what it opened
    if (!check_folder(next)) return;
    reached = next;
  }
}

}  // namespace corvane
