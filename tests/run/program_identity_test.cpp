#include "run/program_identity.h"

#include <gtest/gtest.h>
#include <signal.h>

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
  void SetUp() override { WriteFile(program_, "#!/bin/sh\n"); }
  // Waits until another process holds the lock on the program.
  void WaitUntilHeld() {
    for (int i = 0; i < 400; ++i) {
      InstanceGuard probe(program_);
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
  std::filesystem::path program_ = folder_ / "corvane-email-handler";
};

TEST_F(InstanceGuardTest, OnlyOneHolderAtATime) {
  InstanceGuard first(program_);
  InstanceGuard second(program_);
  EXPECT_TRUE(first.TryAcquire());
  EXPECT_TRUE(first.TryAcquire());  // asking again is harmless
  EXPECT_FALSE(second.TryAcquire());
}

TEST_F(InstanceGuardTest, EndingTheHolderFreesTheLock) {
  {
    InstanceGuard first(program_);
    ASSERT_TRUE(first.TryAcquire());
  }
  InstanceGuard next(program_);
  EXPECT_TRUE(next.TryAcquire());
}

TEST_F(InstanceGuardTest, AProcessKilledWhileHoldingLeavesNoStaleLock) {
  ChildProcess holder({"flock", "--exclusive", program_.string(), "sleep", "60"});
  WaitUntilHeld();
  InstanceGuard blocked(program_);
  EXPECT_FALSE(blocked.TryAcquire());
  holder.Stop(SIGKILL);
  InstanceGuard after(program_);
  EXPECT_TRUE(after.TryAcquire());
}

TEST_F(InstanceGuardTest, AChildOfTheHolderDoesNotInheritTheLock) {
  auto holder = std::make_unique<InstanceGuard>(program_);
  ASSERT_TRUE(holder->TryAcquire());
  ChildProcess child({"sleep", "60"});  // started while the lock is held
  WaitForExec(child.pid());
  holder.reset();
  InstanceGuard next(program_);
  EXPECT_TRUE(next.TryAcquire()) << "the child kept the lock open";
}

TEST_F(InstanceGuardTest, AMissingProgramFileIsAnError) {
  EXPECT_THROW(InstanceGuard(folder_ / "missing"), Error);
}

}  // namespace
}  // namespace corvane::run
