#include "store/FileSystemWatcher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "platform/ChangeWatch.h"

using platform::ChangeEvent;
using platform::CChangeWatch;

// Shared by the object and its thread, so a thread that outlives Stop's limit
// still has everything it touches.
struct CFileSystemWatcher::State {
  CChangeWatch watch;
  Callback callback = nullptr;
  void* user = nullptr;
  std::atomic<int> stop{0};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
};

namespace {

void Deliver(const std::vector<ChangeEvent>& events, const std::atomic<int>& stop,
             CFileSystemWatcher::Callback callback, void* user) {
  for (const ChangeEvent& event : events) {
    if (stop.load()) return;
    if (event.action == ChangeEvent::kWatchRefused) {
      LogF(CLogger::kWarn, "CFileSystemWatcher::Routine",
           "Fail to watch folder %s: the per-user limit of inotify watches (fs.inotify.max_user_watches) is reached",
           event.path.c_str());
    }
    if (event.action < 0) {
      callback(-1, std::string(), user);
    } else {
      callback(event.action, event.path, user);
    }
  }
}

}  // namespace

CFileSystemWatcher::~CFileSystemWatcher() { Stop(1000); }

int CFileSystemWatcher::Run(const std::string& folder, bool subtree, uint32_t filter, Callback callback,
                            void* user) {
  Stop(-1);
  if (!callback) return 0;
  auto state = std::make_shared<State>();
  if (state->watch.Open(folder, subtree, filter) != 0) return 0;
  state->callback = callback;
  state->user = user;
  try {
    thread_ = std::thread(Routine, state);
  } catch (const std::system_error&) {
    return 0;
  }
  state_ = std::move(state);
  LogF(CLogger::kInfo, "CFileSystemWatcher::Run", "Monitor Local: %s", folder.c_str());
  return 1;
}

void CFileSystemWatcher::Stop(int ms) {
  if (!thread_.joinable()) return;
  state_->stop.store(1);
  state_->watch.Wake();
  bool done = true;
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const auto isDone = [this] { return state_->done; };
    if (ms < 0) {
      state_->ended.wait(lock, isDone);
    } else {
      done = state_->ended.wait_for(lock, std::chrono::milliseconds(ms), isDone);
    }
  }
  if (done) {
    thread_.join();
  } else {
    // Busy in the callback: it sees the stop flag when the callback returns.
    LogText(CLogger::kWarn, "CFileSystemWatcher::Stop", "Monitor thread is busy, it ends on its own");
    thread_.detach();
  }
  state_.reset();
}

void CFileSystemWatcher::Routine(std::shared_ptr<State> state) {
  std::vector<ChangeEvent> events;
  while (!state->stop.load()) {
    LogText(CLogger::kInfo, "CFileSystemWatcher::Routine", "Monitor Local Files...");
    events.clear();
    const CChangeWatch::Result result = state->watch.Read(events);
    if (state->stop.load()) break;
    if (result == CChangeWatch::Result::kFailed) {
      LogText(CLogger::kInfo, "CFileSystemWatcher::Routine", "Cancel Monitor");
      state->callback(-1, std::string(), state->user);
      break;
    }
    if (result == CChangeWatch::Result::kWoken) continue;
    LogText(CLogger::kInfo, "CFileSystemWatcher::Routine", "Local files changed");
    Deliver(events, state->stop, state->callback, state->user);
    // Changes made meanwhile wait in the kernel's queue for the next read.
    state->watch.Sleep(ProcessTiming().watcherSleepMs.load());
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->done = true;
  state->ended.notify_all();
}
