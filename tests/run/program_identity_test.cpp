#include "run/program_identity.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/error.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::run {
namespace {

using ::corvane::testing::ChildProcess;
using ::corvane::testing::TempDir;
using ::corvane::testing::WriteFile;

class InstanceGuardTest : public ::testing::Test {
 protected:
  // Waits until another process holds the lock.
  void WaitUntilHeld() {
    for (int i = 0; i < 400; ++i) {
      InstanceGuard probe(folder_.path());
      if (!probe.TryAcquire()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the other process never took the lock";
  }

  // Until the child has replaced its copy of this process with the new program.
  static void WaitForExec(pid_t pid) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto child = std::filesystem::path("/proc") / std::to_string(pid) / "exe";
    for (int i = 0; i < 400; ++i) {
      std::error_code error;
      if (std::filesystem::read_symlink(child, error) != self && !error) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the child never started its program";
  }

  TempDir folder_;
  std::filesystem::path lock_ = folder_ / "corvane-email-handler.lock";
};

TEST_F(InstanceGuardTest, OnlyOneHolderAtATime) {
  InstanceGuard first(folder_.path());
  // Made on first use, for its owner alone; the second opens the same file.
  EXPECT_EQ(std::filesystem::status(lock_).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  InstanceGuard second(folder_.path());
  EXPECT_TRUE(first.TryAcquire());
  EXPECT_TRUE(first.TryAcquire());  // asking again is harmless
  EXPECT_FALSE(second.TryAcquire());
}

TEST_F(InstanceGuardTest, EndingTheHolderFreesTheLock) {
  {
    InstanceGuard first(folder_.path());
    ASSERT_TRUE(first.TryAcquire());
  }
  InstanceGuard next(folder_.path());
  EXPECT_TRUE(next.TryAcquire());
}

TEST_F(InstanceGuardTest, AProcessKilledWhileHoldingLeavesNoStaleLock) {
  { InstanceGuard maker(folder_.path()); }  // the file is ours, not one flock(1) makes
  ChildProcess holder({"flock", "--exclusive", lock_.string(), "sleep", "60"});
  WaitUntilHeld();
  InstanceGuard blocked(folder_.path());
  EXPECT_FALSE(blocked.TryAcquire());
  holder.Stop(SIGKILL);
  InstanceGuard after(folder_.path());
  EXPECT_TRUE(after.TryAcquire());
}

TEST_F(InstanceGuardTest, AChildOfTheHolderDoesNotInheritTheLock) {
  auto holder = std::make_unique<InstanceGuard>(folder_.path());
  ASSERT_TRUE(holder->TryAcquire());
  ChildProcess child({"sleep", "60"});  // started while the lock is held
  WaitForExec(child.pid());
  holder.reset();
  InstanceGuard next(folder_.path());
  EXPECT_TRUE(next.TryAcquire()) << "the child kept the lock open";
}

TEST_F(InstanceGuardTest, AMissingProgramFolderIsAnError) {
  EXPECT_THROW(InstanceGuard(folder_ / "missing"), Error);
}

// A link, a FIFO, a file others may open or someone else's file is refused, and left alone.
TEST_F(InstanceGuardTest, ALockFileOthersCouldHoldIsRefused) {
  namespace fs = std::filesystem;
  const passwd* nobody = getpwnam("nobody");
  for (int plant = 0; plant < 4; ++plant) {
    fs::remove(lock_);
    if (plant == 0) {
      fs::create_symlink(folder_ / "elsewhere", lock_);
    } else if (plant == 1) {
      ASSERT_EQ(mkfifo(lock_.c_str(), 0600), 0);
    } else {
      WriteFile(lock_, "");
      fs::permissions(lock_, fs::perms(plant == 2 ? 0640 : 0600));
    }
    if (plant == 3 && (geteuid() != 0 || chown(lock_.c_str(), nobody->pw_uid, 0) != 0)) continue;
    try {
      InstanceGuard guard(folder_.path());
      ADD_FAILURE() << "plant " << plant << " was taken";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::kUnsafe) << error.description();
      EXPECT_NE(error.description().find("Fix: "), std::string::npos) << error.description();
    }
    EXPECT_TRUE(fs::exists(fs::symlink_status(lock_))) << plant;
  }
}

}  // namespace
}  // namespace corvane::run
