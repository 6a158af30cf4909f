#include "run/program_identity.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/error.h"

namespace corvane::run {

std::filesystem::path ExecutablePath() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    throw Error(ErrorKind::kSystem, errnum::kPathFileAccessError,
                "Path/File access error: cannot find the program's own file: " + error.message());
  }
  return path;
}

InstanceGuard::InstanceGuard(const std::filesystem::path& executable)
    : file_(::open(executable.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (!file_.valid()) {
    throw Error(ErrorKind::kSystem, errnum::kPathFileAccessError,
                "Path/File access error: cannot open " + executable.string() +
                    " for the single-instance check: " + std::strerror(errno));
  }
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
