#include "platform/ChangeWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr uint32_t kWatchFlags = IN_DONT_FOLLOW | IN_ONLYDIR | IN_EXCL_UNLINK;
// Events needed to keep the tree of watches right, whatever is reported.
constexpr uint32_t kTreeEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

uint32_t MaskFor(uint32_t filter) {
  uint32_t mask = kTreeEvents;
  if (filter & (kChangeSize | kChangeLastWrite)) mask |= IN_MODIFY;
  // Setting a modify time (touch, utimensat) is an attribute change.
  if (filter & (kChangeAttributes | kChangeSecurity | kChangeLastWrite)) mask |= IN_ATTRIB;
  if (filter & kChangeLastAccess) mask |= IN_ACCESS;
  return mask;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

}  // namespace

CChangeWatch::~CChangeWatch() { Close(); }

int CChangeWatch::Open(const std::string& folder, bool subtree, uint32_t filter) {
  Close();
  inotifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  root_ = folder;
  subtree_ = subtree;
  filter_ = filter;
  mask_ = MaskFor(filter);
  // The folder itself may be reached through a link (a user folder kept elsewhere).
  rootWatch_ = inotifyFd_ < 0 ? -1 : inotify_add_watch(inotifyFd_, root_.c_str(), mask_ | IN_ONLYDIR | IN_EXCL_UNLINK);
  if (wakeFd_ < 0 || rootWatch_ < 0) {
    const int error = errno;
    Close();
    return error;
  }
  folders_[rootWatch_] = "";
  if (subtree_) WatchTree("", false, pending_);
  return 0;
}

void CChangeWatch::Close() {
  if (inotifyFd_ >= 0) close(inotifyFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
  inotifyFd_ = wakeFd_ = rootWatch_ = -1;
  folders_.clear();
  pending_.clear();
  refusalReported_ = false;
}

CChangeWatch::Result CChangeWatch::Read(std::vector<ChangeEvent>& events) {
  if (inotifyFd_ < 0) return Result::kFailed;
  if (!pending_.empty()) {
    events.insert(events.end(), pending_.begin(), pending_.end());
    pending_.clear();
    return Result::kChanges;
  }
  for (;;) {
    pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return Result::kFailed;
    }
    if (fds[1].revents) {
      uint64_t count = 0;
      (void)!read(wakeFd_, &count, sizeof count);
      return Result::kWoken;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return Result::kFailed;
    const size_t before = events.size();
    if (!ReadBatch(events)) return Result::kFailed;
    if (events.size() > before) return Result::kChanges;  // else only unreported kinds: wait on
  }
}

bool CChangeWatch::Sleep(int ms) {
  pollfd fd = {wakeFd_, POLLIN, 0};
  if (wakeFd_ < 0 || poll(&fd, 1, ms) <= 0) return false;
  uint64_t count = 0;
  (void)!read(wakeFd_, &count, sizeof count);
  return true;
}

void CChangeWatch::Wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof one);
}

bool CChangeWatch::InputReady() const {
  pollfd fd = {inotifyFd_, POLLIN, 0};
  return poll(&fd, 1, 0) > 0;
}

bool CChangeWatch::ReadBatch(std::vector<ChangeEvent>& events) {
  alignas(inotify_event) char buffer[64 * 1024];
  std::optional<MoveOut> moveOut;
  // The two halves of a rename are queued together; when a batch ends between
  // them, the second is already waiting.
  do {
    const ssize_t length = read(inotifyFd_, buffer, sizeof buffer);
    if (length < 0 && (errno == EAGAIN || errno == EINTR)) break;
    if (length <= 0) return false;
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      if (!Handle(*event, moveOut, events)) return false;
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  } while (moveOut && InputReady());
  if (moveOut) FlushMoveOut(*moveOut, events);
  return true;
}

bool CChangeWatch::Handle(const inotify_event& event, std::optional<MoveOut>& moveOut,
                          std::vector<ChangeEvent>& events) {
  if (event.mask & IN_Q_OVERFLOW) {
    events.push_back({ChangeEvent::kLost, ""});
    if (subtree_) WatchTree("", false, events);  // folders made meanwhile went unseen
    return true;
  }
  if (event.wd == rootWatch_ && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))) {
    return false;
  }
  if (event.mask & IN_IGNORED) {
    folders_.erase(event.wd);
    return true;
  }
  const auto folder = folders_.find(event.wd);
  if (folder == folders_.end() || event.len == 0 || event.name[0] == '\0') return true;
  const std::string path = Join(folder->second, event.name);
  const bool isFolder = (event.mask & IN_ISDIR) != 0;

  const bool pairsMove = moveOut && (event.mask & IN_MOVED_TO) && event.cookie == moveOut->cookie;
  if (moveOut && !pairsMove) {
    FlushMoveOut(*moveOut, events);
    moveOut.reset();
  }
  if (event.mask & IN_MOVED_FROM) {
    moveOut = MoveOut{event.cookie, path, isFolder};
  } else if (pairsMove) {
    Report(ChangeEvent::kRenamedFrom, moveOut->path, isFolder, events);
    Report(ChangeEvent::kRenamedTo, path, isFolder, events);
    if (isFolder) RenameFolders(moveOut->path, path);
    moveOut.reset();
  } else if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
    Report(ChangeEvent::kAdded, path, isFolder, events);
    // A new folder's content may have been made before its watch existed.
    if (isFolder && subtree_) WatchTree(path, (event.mask & IN_CREATE) != 0, events);
  } else if (event.mask & IN_DELETE) {
    Report(ChangeEvent::kRemoved, path, isFolder, events);
  } else if (event.mask & (IN_MODIFY | IN_ATTRIB | IN_ACCESS)) {
    Report(ChangeEvent::kModified, path, isFolder, events);
  }
  return true;
}

void CChangeWatch::Report(int action, const std::string& path, bool isFolder,
                          std::vector<ChangeEvent>& events) const {
  if (action != ChangeEvent::kModified && !(filter_ & (isFolder ? kChangeFolderName : kChangeFileName))) return;
  events.push_back({action, path});
}

void CChangeWatch::FlushMoveOut(const MoveOut& move, std::vector<ChangeEvent>& events) {
  // Moved out of the watched tree: gone, as far as this watch can tell.
  Report(ChangeEvent::kRemoved, move.path, move.isFolder, events);
  if (move.isFolder) ForgetFolders(move.path);
}

void CChangeWatch::WatchTree(const std::string& path, bool report, std::vector<ChangeEvent>& events) {
  if (!WatchFolder(path, events)) return;
  const std::string full = path.empty() ? root_ : root_ + "/" + path;
  const int fd = open(full.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (!dir) {
    if (fd >= 0) close(fd);
    return;
  }
  std::vector<std::pair<std::string, bool>> entries;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      isFolder = fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    entries.emplace_back(entry->d_name, isFolder);
  }
  closedir(dir);
  for (const auto& [name, isFolder] : entries) {
    const std::string child = Join(path, name);
    if (report) Report(ChangeEvent::kAdded, child, isFolder, events);
    if (isFolder) WatchTree(child, report, events);
  }
}

bool CChangeWatch::WatchFolder(const std::string& path, std::vector<ChangeEvent>& events) {
  if (path.empty()) return true;  // the root's watch is made by Open
  const std::string full = root_ + "/" + path;
  const int watch = inotify_add_watch(inotifyFd_, full.c_str(), mask_ | kWatchFlags);
  if (watch >= 0) {
    folders_[watch] = path;
    return true;
  }
  if (errno == ENOSPC && !refusalReported_) {
    refusalReported_ = true;
    events.push_back({ChangeEvent::kWatchRefused, path});
  }
  return false;
}

void CChangeWatch::RenameFolders(const std::string& from, const std::string& to) {
  for (auto& [watch, path] : folders_) {
    if (watch != rootWatch_ && IsAtOrBelow(path, from)) path = to + path.substr(from.size());
  }
}

void CChangeWatch::ForgetFolders(const std::string& path) {
  for (auto it = folders_.begin(); it != folders_.end();) {
    if (it->first != rootWatch_ && IsAtOrBelow(it->second, path)) {
      inotify_rm_watch(inotifyFd_, it->first);
      it = folders_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace platform
