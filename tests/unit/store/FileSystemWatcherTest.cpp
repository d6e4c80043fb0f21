// The folder watcher on real folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "foundation/Timing.h"
#include "platform/ChangeWatch.h"
#include "store/FileSystemWatcher.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Event = std::pair<int, std::string>;

constexpr uint32_t kEngineFilter = 0x1b;  // names of files and folders, sizes, modify times

// Collects the callbacks; a test may hold the watcher thread inside one.
class Recorder {
 public:
  static void Callback(int action, const std::string& path, void* user) {
    static_cast<Recorder*>(user)->Add(action, path);
  }

  // True once `wanted` is among the events (within 10 s).
  bool WaitFor(const Event& wanted) {
    return WaitUntil([&] { return std::find(events_.begin(), events_.end(), wanted) != events_.end(); });
  }
  bool WaitForCount(std::size_t count) {
    return WaitUntil([&] { return events_.size() >= count; });
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  void HoldCallbacks() { held_ = true; }
  void ReleaseCallbacks() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  bool WaitUntilOutside() {
    return WaitUntil([&] { return !inside_; });
  }
  bool InsideCallback() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inside_;
  }

 private:
  template <typename Predicate>
  bool WaitUntil(Predicate predicate) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), predicate);
  }
  void Add(int action, const std::string& path) {
    std::unique_lock<std::mutex> lock(mutex_);
    events_.emplace_back(action, path);
    inside_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
    inside_ = false;
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  bool held_ = false;
  bool inside_ = false;
};

class WatcherTest : public ::testing::Test {
 protected:
  WatcherTest() { ProcessTiming().watcherSleepMs = 10; }
  ~WatcherTest() override { ProcessTiming().watcherSleepMs = 1000; }

  LogCapture log;
  TempDir dir;
  Recorder recorder;
  CFileSystemWatcher watcher;
};

TEST_F(WatcherTest, RenameGivesTheOldNameThenTheNewOne) {
  WriteFile(dir / "a.txt", "a");
  ASSERT_EQ(watcher.Run(dir.path(), true, kEngineFilter, &Recorder::Callback, &recorder), 1);
  EXPECT_TRUE(log.Contains("[CFileSystemWatcher::Run]: Monitor Local: " + dir.path()));
  fs::rename(dir / "a.txt", dir / "b.txt");

  ASSERT_TRUE(recorder.WaitFor({5, "b.txt"}));
  const std::vector<Event> events = recorder.Events();
  const auto renamedTo = std::find(events.begin(), events.end(), Event{5, "b.txt"});
  ASSERT_NE(renamedTo, events.begin());
  EXPECT_EQ(*(renamedTo - 1), (Event{4, "a.txt"}));
  EXPECT_TRUE(log.Contains("Monitor Local Files..."));
  EXPECT_TRUE(log.Contains("Local files changed"));
}

TEST_F(WatcherTest, ReportsDeepPathsInFoldersMadeWhileWatching) {
  ASSERT_EQ(watcher.Run(dir.path(), true, kEngineFilter, &Recorder::Callback, &recorder), 1);
  // Made at once: the inner folders exist before their watches can.
  fs::create_directories(dir / "docs/2012/q1");
  WriteFile(dir / "docs/2012/q1/a.txt", "a");
  ASSERT_TRUE(recorder.WaitFor({1, "docs"}));
  ASSERT_TRUE(recorder.WaitFor({1, "docs/2012/q1/a.txt"}));

  // Watches follow a renamed folder; "\" is an ordinary name character.
  fs::rename(dir / "docs", dir / "papers");
  ASSERT_TRUE(recorder.WaitFor({5, "papers"}));
  WriteFile(dir / "papers/2012/q1/b\\c.txt", "b");
  EXPECT_TRUE(recorder.WaitFor({1, "papers/2012/q1/b\\c.txt"}));
  WriteFile(dir / "papers/2012/q1/a.txt", "changed");
  EXPECT_TRUE(recorder.WaitFor({3, "papers/2012/q1/a.txt"}));
}

TEST_F(WatcherTest, StopReturnsWithinItsLimitWhileTheThreadWaitsOrSleeps) {
  for (const bool afterAChange : {false, true}) {
    SCOPED_TRACE(afterAChange ? "sleeping after a change" : "waiting for a change");
    ProcessTiming().watcherSleepMs = 60000;
    Recorder recorder;
    ASSERT_EQ(watcher.Run(dir.path(), true, kEngineFilter, &Recorder::Callback, &recorder), 1);
    if (afterAChange) {
      WriteFile(dir / "change.txt", "x");
      ASSERT_TRUE(recorder.WaitForCount(1));
    }
    const auto start = Clock::now();
    watcher.Stop(100);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_FALSE(watcher.IsRunning());
  }
}

TEST_F(WatcherTest, StopLeavesABusyCallbackToFinishWithoutKillingIt) {
  recorder.HoldCallbacks();
  ASSERT_EQ(watcher.Run(dir.path(), true, kEngineFilter, &Recorder::Callback, &recorder), 1);
  WriteFile(dir / "a.txt", "a");
  ASSERT_TRUE(recorder.WaitForCount(1));

  const auto start = Clock::now();
  watcher.Stop(100);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_FALSE(watcher.IsRunning());
  EXPECT_TRUE(recorder.InsideCallback());  // still running, not killed

  WriteFile(dir / "b.txt", "b");
  recorder.ReleaseCallbacks();
  ASSERT_TRUE(recorder.WaitUntilOutside());
  EXPECT_EQ(recorder.Events().size(), 1u);  // no callback starts after Stop
}

TEST_F(WatcherTest, RemovedFolderEndsTheWatchWithMinusOne) {
  const std::string watched = dir / "watched";
  fs::create_directory(watched);
  ASSERT_EQ(watcher.Run(watched, true, kEngineFilter, &Recorder::Callback, &recorder), 1);
  fs::remove(watched);
  ASSERT_TRUE(recorder.WaitFor({-1, ""}));
  EXPECT_TRUE(log.Contains("Cancel Monitor"));
  EXPECT_EQ(watcher.Run(dir / "missing", true, kEngineFilter, &Recorder::Callback, &recorder), 0);
}

TEST_F(WatcherTest, LostChangesAreReportedAsMinusOne) {
  recorder.HoldCallbacks();
  ASSERT_EQ(watcher.Run(dir.path(), true, kEngineFilter, &Recorder::Callback, &recorder), 1);
  WriteFile(dir / "first.txt", "1");
  ASSERT_TRUE(recorder.WaitForCount(1));
  // More changes than the kernel queues (16384 by default) while the thread is held.
  for (int i = 0; i < 17000; ++i) close(open((dir / ("f" + std::to_string(i))).c_str(), O_CREAT | O_WRONLY, 0600));
  recorder.ReleaseCallbacks();
  EXPECT_TRUE(recorder.WaitFor({-1, ""}));
}

// In a user namespace of its own the test may lower the watch limit.
int WatchLimitChild(const std::string& folder) {
  const std::string uid = std::to_string(getuid());
  const std::string gid = std::to_string(getgid());
  if (unshare(CLONE_NEWUSER) != 0) return 77;
  WriteFile("/proc/self/setgroups", "deny");
  WriteFile("/proc/self/uid_map", "0 " + uid + " 1");
  WriteFile("/proc/self/gid_map", "0 " + gid + " 1");
  WriteFile("/proc/sys/user/max_inotify_watches", "3");
  if (ReadFile("/proc/sys/user/max_inotify_watches") != "3\n") return 77;

  LogCapture log;
  Recorder recorder;
  CFileSystemWatcher watcher;
  if (watcher.Run(folder, true, kEngineFilter, &Recorder::Callback, &recorder) != 1) return 1;
  if (!recorder.WaitFor({-1, ""})) return 2;
  WriteFile(folder + "/new.txt", "still watched");  // the root kept its watch
  if (!recorder.WaitFor({1, "new.txt"})) return 3;
  watcher.Stop(1000);
  const std::string text = log.Text();
  const std::string line = "(fs.inotify.max_user_watches)";
  if (text.find(line) == std::string::npos || text.find(line) != text.rfind(line)) return 4;
  return 0;
}

TEST_F(WatcherTest, WatchLimitIsLoggedOnceAndReportedAsMinusOne) {
  for (const char* sub : {"a/b", "c/d", "e/f"}) fs::create_directories(dir / sub);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(WatchLimitChild(dir.path()));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no user namespaces here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
