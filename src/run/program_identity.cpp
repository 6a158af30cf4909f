#include "run/program_identity.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "base/error.h"
#include "base/owner_check.h"

namespace corvane::run {

namespace {

constexpr std::string_view kLockHarm = "hold the lock and stop every run";

[[noreturn]] void ThrowNotAFile(const std::filesystem::path& path) {
  throw Error(ErrorKind::kUnsafe, errnum::kPermissionDenied,
              "Permission denied: the single-instance lock file " + path.string() +
                  " is not a regular file. Fix: remove it; the next run makes a new one");
}

[[noreturn]] void ThrowCannot(std::string_view what, const std::filesystem::path& path, int error) {
  throw Error(ErrorKind::kSystem, errnum::kPathFileAccessError,
              "Path/File access error: cannot " + std::string(what) +
                  " the single-instance lock file " + path.string() + ": " + std::strerror(error) +
                  ". Fix: as root, install -m 600 -o " + UserName(::geteuid()) + " /dev/null " +
                  path.string());
}

// Opens the lock file read-only (flock needs no more), making it with mode 0600 when it is not
// there. O_NOFOLLOW and O_NONBLOCK: a link or a FIFO planted in its place neither redirects
// nor blocks the run.
FileDescriptor OpenLockFile(const std::filesystem::path& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.valid()) return file;
    const int error = errno;
    if (error == ELOOP) ThrowNotAFile(path);
    if (error == EACCES) {
      // Most likely someone else's file: say so, as for one that could be opened.
      struct stat info {};
      if (::lstat(path.c_str(), &info) == 0) {
        CheckOnlyRunnerControls(info, path, "the single-instance lock file", kLockHarm, 077);
      }
    }
    if (error != ENOENT) ThrowCannot("open", path, error);
    FileDescriptor made(
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (made.valid()) {
      // The umask may have taken bits from 0600; the owner must keep reading it.
      if (::fchmod(made.get(), 0600) != 0) ThrowCannot("make", path, errno);
      return made;
    }
    if (errno != EEXIST) ThrowCannot("make", path, errno);
    // Another run made it in between: open that one.
  }
  ThrowCannot("open", path, EEXIST);
}

}  // namespace

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return host;
}

std::filesystem::path ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Error(ErrorKind::kSystem, errnum::kPathFileAccessError,
                "Path/File access error: cannot find the program's own file: " + error.message());
  }
  return path;
}

InstanceGuard::InstanceGuard(const std::filesystem::path& program_folder)
    : file_(OpenLockFile(program_folder / kLockFileName)) {
  const std::filesystem::path path = program_folder / kLockFileName;
  // Checked on the file that was opened, so it cannot be swapped in between.
  struct stat info {};
  if (::fstat(file_.get(), &info) != 0) ThrowCannot("open", path, errno);
  if (!S_ISREG(info.st_mode)) ThrowNotAFile(path);
  CheckOnlyRunnerControls(info, path, "the single-instance lock file", kLockHarm, 077);
}

bool InstanceGuard::TryAcquire() {
  if (held_) return true;
  while (::flock(file_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return false;
    throw Error(
        ErrorKind::kSystem, errnum::kPathFileAccessError,
        std::string("Path/File access error: single-instance lock: ") + std::strerror(errno));
  }
  held_ = true;
  return true;
}

}  // namespace corvane::run
