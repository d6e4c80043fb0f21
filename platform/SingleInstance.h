#pragma once
// One desktop client per user: an exclusive, non-blocking flock on a lock
// file that lives as long as the holder's process (the kernel drops the lock
// when the process ends, however it ends).
#include <string>

namespace platform {

// $XDG_RUNTIME_DIR/VorClientSelfMutex.lock, or the same name in ConfigDir()
// when XDG_RUNTIME_DIR is not set.
std::string SingleInstanceLockPath();

class CSingleInstance {
 public:
  enum class Result {
    kAcquired,      // this object holds the lock now
    kHeldElsewhere, // another client of this user runs
    kUnavailable,   // the lock file cannot be made; nothing is known
  };

  CSingleInstance() = default;
  ~CSingleInstance();  // releases the lock
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // Takes the lock on `path` (default: SingleInstanceLockPath()). The file is
  // opened close-on-exec, so programs started later (a browser through
  // xdg-open) never keep the lock alive after this process ended.
  Result Acquire(const std::string& path = SingleInstanceLockPath());

 private:
  int fd_ = -1;
};

}  // namespace platform
