#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/Paths.h"
#include "tests/support/TempDir.h"

using platform::CSingleInstance;

TEST(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstEnds) {
  TempDir dir;
  const std::string lock = dir / "run/VorClientSelfMutex.lock";
  {
    CSingleInstance first;
    ASSERT_EQ(first.Acquire(lock), CSingleInstance::Result::kAcquired);
    CSingleInstance second;  // a separate open file description conflicts like another process
    EXPECT_EQ(second.Acquire(lock), CSingleInstance::Result::kHeldElsewhere);
  }
  CSingleInstance later;
  EXPECT_EQ(later.Acquire(lock), CSingleInstance::Result::kAcquired);
}

TEST(SingleInstanceTest, ChildProgramsDoNotInheritTheLock) {
  TempDir dir;
  const std::string lock = dir / "VorClientSelfMutex.lock";
  CSingleInstance holder;
  ASSERT_EQ(holder.Acquire(lock), CSingleInstance::Result::kAcquired);
  // Every descriptor on the lock file is close-on-exec: look them up in /proc.
  int found = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    char target[4096] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0 || lock != target) continue;
    ++found;
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << "descriptor " << fd;
  }
  EXPECT_EQ(found, 1);
}

TEST(SingleInstanceTest, UnwritableFolderIsUnavailableNotHeld) {
  CSingleInstance guard;
  EXPECT_EQ(guard.Acquire("/proc/VorClientSelfMutex.lock"), CSingleInstance::Result::kUnavailable);
}

TEST(SingleInstanceTest, LockPathFollowsRuntimeFolderElseConfigFolder) {
  const std::string runtime = getenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::SingleInstanceLockPath(), runtime + "/VorClientSelfMutex.lock");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(platform::SingleInstanceLockPath(), platform::ConfigDir() + "/VorClientSelfMutex.lock");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}
