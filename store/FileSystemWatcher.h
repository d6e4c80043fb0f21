#pragma once
// Watches a folder (and, optionally, its whole tree) and reports each change
// to a callback on a thread of its own. It keeps no state about files; the
// engine's scans remain the truth, the watcher only says when to look.
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CFileSystemWatcher {
 public:
  // `action`: 1 added, 2 removed, 3 modified, 4 renamed from (always followed
  // by its 5), 5 renamed to; -1 with an empty path when changes were lost
  // (queue overflow, a folder the watch limit kept unwatched) or watching
  // ended with an error. `path` is relative to the watched folder, "/"
  // separators, local code page. Runs on the watcher thread.
  using Callback = void (*)(int action, const std::string& path, void* user);

  CFileSystemWatcher() = default;
  ~CFileSystemWatcher();  // Stop(1000)
  CFileSystemWatcher(const CFileSystemWatcher&) = delete;
  CFileSystemWatcher& operator=(const CFileSystemWatcher&) = delete;

  // Ends a previous watch of this object (waiting for its thread), then
  // watches `folder` with the change kinds of `filter` (platform/ChangeWatch.h
  // flags). 0 when the folder cannot be watched or the thread not started.
  int Run(const std::string& folder, bool subtree, uint32_t filter, Callback callback, void* user);
  // Asks the thread to end and waits for it at most `ms` milliseconds (no
  // limit when negative). A thread still inside the callback then ends on its
  // own when the callback returns; no thread is ever killed, and no
  // further callback starts once Stop was called.
  void Stop(int ms);
  bool IsRunning() const { return thread_.joinable(); }

 private:
  struct State;
  static void Routine(std::shared_ptr<State> state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};
