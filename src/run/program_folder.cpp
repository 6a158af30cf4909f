#include "run/program_folder.h"

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

std::filesystem::path ProgramFolder() {
  return ExecutablePath().parent_path();
}

}  // namespace corvane::run
