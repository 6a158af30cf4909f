// The program's identity and its single-instance guard.
//
// The program's own file is found through /proc/self/exe (links resolved); its folder is where
// config.txt lives, whatever the working directory (cron starts jobs in the home folder or in /).
//
// The single-instance guard. A run takes an exclusive flock on the lock file
// corvane-email-handler.lock in the program folder, which the kernel drops however the process
// ends (no stale lock after kill -9), and two starts cannot both win. Only the account that runs
// the program may open that file (mode 0600, the folder only its owner may change), so no other
// local user can hold the lock and silence the job. The file is made on first use and never
// removed; where it is already there it is opened read-only, so a run on a read-only file system
// (a sandboxed service) works once it exists. A copy of the program in another folder is another
// program (with its own config.txt and lock file) and runs on its own.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/file_descriptor.h"

namespace corvane::run {

// The executable's own path; its folder is the program folder.
std::filesystem::path ExecutablePath();
// This machine's name (gethostname), as the ledger and a test message name it; empty when the
// system gives none.
std::string HostName();

class InstanceGuard {
 public:
  static constexpr std::string_view kLockFileName = "corvane-email-handler.lock";

  // Opens (or makes) the lock file in `program_folder`, close-on-exec so that a child process
  // cannot keep the lock. Fails (kUnsafe) for a lock file that is no regular file, belongs to
  // someone other than the runner or root, or that group or others may open; (kSystem) when it
  // cannot be opened or made.
  explicit InstanceGuard(const std::filesystem::path& program_folder);
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
