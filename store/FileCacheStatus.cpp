// CFileCache: per-path status in the shared status block. Entries are made
// for paths below the root only; the walks up the folders end at the root.
#include "store/FileCache.h"
#include "store/FileJournal.h"

namespace {

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// True when `folder` is `path` or one of the folders above it.
bool IsAtOrAbove(const std::string& folder, const std::string& path) {
  return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

// The block's form of a root-relative path, or of an absolute one below the
// root: the root, then the rest in lower case. "" for the root itself.
std::string CFileCache::StatusPath(const std::string& path) const {
  std::string rel = path;
  MakeRootRelative(rel);
  if (rel.empty() || rel[0] != '/') rel.insert(0, "/");
  if (rel == "/") return std::string();
  return root_ + CFileJournal::ToKey(rel);
}

// Gives `status` to each folder above `path`, up to the root (excluded) or
// to the first folder that is `stop` or holds it.
void CFileCache::MarkUpward(std::string path, int32_t status, const std::string& stop) {
  for (path = Parent(path); path.size() > root_.size() && UnderRoot(path); path = Parent(path)) {
    if (!stop.empty() && IsAtOrAbove(path, stop)) return;
    statusMemory_.Update(path, status, -1, -1);
  }
}

int CFileCache::SetPathStatus(const std::string& path, int32_t status) {
  const std::string full = StatusPath(path);
  if (full.empty()) return 0;
  const int updated = statusMemory_.Update(full, status, -1, -1);
  if (status != 3) MarkUpward(full, status, "");
  return updated;
}

int CFileCache::SetStatusUpTo(const std::string& path, int32_t status, const std::string& stop) {
  const std::string full = StatusPath(path);
  if (full.empty()) return 0;
  const std::string stopPath = stop.empty() ? std::string() : StatusPath(stop);
  if (!stopPath.empty() && IsAtOrAbove(full, stopPath)) return 1;
  statusMemory_.Update(full, status, -1, -1);
  MarkUpward(full, status, stopPath);
  return 1;
}

int CFileCache::SetStatusRecord(const std::string& path, int32_t status, int32_t total, int32_t done) {
  const std::string full = StatusPath(path);
  if (full.empty()) return 0;
  const int updated = statusMemory_.Update(full, status, total, done);
  if (full == lastStatusPath_) return updated;
  const std::string formerFolder = Parent(lastStatusPath_);
  if (!lastStatusPath_.empty() && formerFolder != Parent(full) && formerFolder.size() > root_.size()) {
    statusMemory_.Update(formerFolder, 3, -1, -1);  // the upload left that folder
  }
  lastStatusPath_ = full;
  MarkUpward(full, status, "");
  return updated;
}

int CFileCache::SetPathLeftOut(const std::string& path) {
  const std::string full = StatusPath(path);
  if (full.empty()) return 0;
  return statusMemory_.Update(full, kStatusLeftOut, -1, -1);
}
