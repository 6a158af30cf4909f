// The program's identity and its single-instance guard.
//
// The program's own file is found through /proc/self/exe (links resolved); its folder is where
// config.txt lives, whatever the working directory (cron starts jobs in the home folder or in /).
//
// The single-instance guard. The identity of the program is its executable file: a run takes an
// exclusive flock on that file, which the kernel drops however the process ends (no stale lock
// after kill -9), and two starts cannot both win. Nothing is created on disk, so the guard works
// the same under cron for root and for ordinary users, whatever the environment and the working
// directory. A copy of the program in another folder is another program (with its own
// config.txt) and runs on its own.
#pragma once

#include <filesystem>

#include "base/file_descriptor.h"

namespace corvane::run {

// The executable's own path; its folder is the program folder.
std::filesystem::path ExecutablePath();

class InstanceGuard {
 public:
  // Opens `executable` read-only and close-on-exec (so a child process cannot keep the lock).
  // Fails when the file cannot be opened.
  explicit InstanceGuard(const std::filesystem::path& executable);
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // True when this process now holds the lock (or already did); false when another instance
  // holds it. Never waits.
  bool TryAcquire();

 private:
  FileDescriptor file_;  // closing it drops the lock
  bool held_ = false;
};

}  // namespace corvane::run
