#pragma once
// Change notifications for a folder and, optionally, every folder below it
// (inotify, one watch per folder, added as folders appear). Symbolic links
// below the folder are never followed. One thread reads; any thread may
// Wake it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct inotify_event;

namespace platform {

// Change kinds to report, as the client's folder-listing flags name them.
constexpr uint32_t kChangeFileName = 0x1;
constexpr uint32_t kChangeFolderName = 0x2;
constexpr uint32_t kChangeAttributes = 0x4;
constexpr uint32_t kChangeSize = 0x8;
constexpr uint32_t kChangeLastWrite = 0x10;
constexpr uint32_t kChangeLastAccess = 0x20;
constexpr uint32_t kChangeSecurity = 0x100;

struct ChangeEvent {
  enum Action {
    kAdded = 1,
    kRemoved = 2,
    kModified = 3,
    kRenamedFrom = 4,  // always followed by its kRenamedTo
    kRenamedTo = 5,
    kLost = -1,          // the kernel's queue overflowed: changes were dropped
    kWatchRefused = -2,  // the per-user watch limit kept `path` unwatched (reported once)
  };
  int action = 0;
  std::string path;  // relative to the watched folder, "/" separators
};

class CChangeWatch {
 public:
  enum class Result { kChanges, kWoken, kFailed };

  CChangeWatch() = default;
  ~CChangeWatch();
  CChangeWatch(const CChangeWatch&) = delete;
  CChangeWatch& operator=(const CChangeWatch&) = delete;

  // Starts watching; 0 or the errno of the failure to watch `folder` itself.
  // Folders below it that cannot be watched are left out (a refusal for the
  // watch limit is reported by the first Read).
  int Open(const std::string& folder, bool subtree, uint32_t filter);
  // Blocks until changes arrive (appended to `events`; a rename gives its two
  // halves in order), Wake() is called, or watching ends: the watched folder
  // was removed or moved, or reading failed.
  Result Read(std::vector<ChangeEvent>& events);
  // Waits up to `ms` milliseconds; true when Wake() cut the wait short.
  bool Sleep(int ms);
  // Ends the current or next Read or Sleep. Safe from any thread while open.
  void Wake();
  void Close();

 private:
  struct MoveOut {
    uint32_t cookie = 0;
    std::string path;
    bool isFolder = false;
  };

  bool ReadBatch(std::vector<ChangeEvent>& events);
  // False when watching has ended.
  bool Handle(const ::inotify_event& event, std::optional<MoveOut>& moveOut,
              std::vector<ChangeEvent>& events);
  void Report(int action, const std::string& path, bool isFolder, std::vector<ChangeEvent>& events) const;
  void FlushMoveOut(const MoveOut& move, std::vector<ChangeEvent>& events);
  // Watches the folder and those below it; `report` lists their entries as added.
  void WatchTree(const std::string& path, bool report, std::vector<ChangeEvent>& events);
  bool WatchFolder(const std::string& path, std::vector<ChangeEvent>& events);
  void RenameFolders(const std::string& from, const std::string& to);
  void ForgetFolders(const std::string& path);
  bool InputReady() const;

  int inotifyFd_ = -1;
  int wakeFd_ = -1;
  int rootWatch_ = -1;
  std::string root_;
  bool subtree_ = false;
  uint32_t filter_ = 0;
  uint32_t mask_ = 0;
  bool refusalReported_ = false;
  std::map<int, std::string> folders_;  // watch -> path relative to root_ ("" for root_)
  std::vector<ChangeEvent> pending_;    // found while opening, handed out by the first Read
};

}  // namespace platform
