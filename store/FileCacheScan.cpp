// CFileCache: set-up, path forms and the scan of the local root.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>

#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

using platform::EntryType;
using platform::FileStatus;
using platform::FolderEntry;

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsFolderOrLinkToOne(const FileStatus& status, const std::string& path) {
  return status.type == EntryType::kFolder || (status.type == EntryType::kLink && CUtil::FolderExists(path));
}

// A share id as the marker holds it: decimal, above 1 (1 means a plain folder).
int32_t ParseShareId(const std::string& text) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || value <= 1 || value > INT32_MAX) return 0;
  return static_cast<int32_t>(value);
}

void CopyTimes(const FileStatus& status, CFileInfo& info) {
  info.createTime = status.changeTime;
  info.writeTime = status.writeTime;
  info.accessTime = status.accessTime;
}

}  // namespace

CFileCache::CFileCache(platform::IFileSystem* fileSystem)
    : fs_(fileSystem ? *fileSystem : platform::RealFileSystem()) {}

// ---- set-up ----

int CFileCache::Init(const std::string& root, const std::string& statusBlockName) {
  if (!SetRoot(root)) {
    LogText(CLogger::kError, "CFileCache::Init", "Fail to creat a local direcotry");
    return 0;
  }
  if (!statusMemory_.Create(statusBlockName)) {
    LogText(CLogger::kError, "CFileCache::Init", "Fail to creat a shared memory");
    return 0;
  }
  statusMemory_.Clear();
  localMap_.clear();
  localCursor_ = localMap_.cend();
  return 1;
}

int CFileCache::SetRoot(const std::string& path) {
  if (path.empty()) {
    LogText(CLogger::kError, "CFileCache::SetRoot", "Fail to creat a path NULL");
    return 0;
  }
  root_ = WithoutTrailingSlash(path);
  return SetFolder(root_);
}

int CFileCache::SetCache(const std::string& path) {
  if (path.empty()) {
    LogText(CLogger::kError, "CFileCache::SetCache", "Fail to creat a path NULL");
    return 0;
  }
  cacheFolder_ = WithoutTrailingSlash(path);
  return SetFolder(cacheFolder_);
}

int CFileCache::SetFolder(const std::string& path) {
  FileStatus status;
  fs_.Stat(path, status);
  if (IsFolderOrLinkToOne(status, path)) return 1;
  if (fs_.MakeFolder(path, 0700) != 0) {
    LogF(CLogger::kError, "CFileCache::SetFolder", "Fail to creat directory \"%s\"", path.c_str());
    return 0;
  }
  return 1;
}

int CFileCache::CleanCache() {
  if (cacheFolder_.empty()) {
    LogText(CLogger::kError, "CFileCache::CleanCache", "NULL cache folder");
    return 0;
  }
  CUtil::DeleteFolder(cacheFolder_);
  return SetFolder(cacheFolder_);
}

// ---- path forms ----

bool CFileCache::UnderRoot(const std::string& path) const {
  if (path.compare(0, root_.size(), root_) != 0) return false;
  return path.size() == root_.size() || path[root_.size()] == '/';
}

int CFileCache::MakeLocalPath(std::string& path) const {
  if (UnderRoot(path)) return 0;
  path = root_ + (path.empty() || path[0] != '/' ? "/" : "") + path;
  return 1;
}

int CFileCache::MakeRootRelative(std::string& path) const {
  if (!UnderRoot(path)) return 0;
  path.erase(0, root_.size());
  return 1;
}

// ---- scan ----

int CFileCache::ScanRoot() {
  FileStatus status;
  fs_.Stat(root_, status);
  if (status.type == EntryType::kMissing) fs_.MakeFolder(root_, 0700);
  fs_.Stat(root_, status);
  localMap_.clear();
  localCursor_ = localMap_.cend();
  scannedShares_.clear();
  tooDeep_.clear();
  if (!IsFolderOrLinkToOne(status, root_)) {
    LogF(CLogger::kError, "CFileCache::ScanRoot", "Fail to open root path \"%s\"", root_.c_str());
    return 0;
  }
  LogText(CLogger::kDebug, "CFileCache::ScanRoot", "--------------------- local filesystem ------------------------");
  if (!ScanPath(root_, 0)) {
    localMap_.clear();
    scannedShares_.clear();
    return 0;
  }
  LogText(CLogger::kDebug, "CFileCache::ScanRoot", "---------------------------------------------------------------");
  return 1;
}

// False only when a folder cannot be listed; the depth limit leaves the
// content out with an error line and lets the scan go on.
int CFileCache::ScanPath(const std::string& folder, int depth) {
  if (++depth > kScanDepthLimit) {
    LogText(CLogger::kError, "CFileCache::ScanPath", "Deepth fo dirctory is too large");
    std::vector<FolderEntry> entries;
    if (fs_.ListFolder(folder, entries) == 0 && !entries.empty()) tooDeep_.push_back(folder.substr(root_.size()));
    return 1;
  }
  std::vector<FolderEntry> entries;
  if (const int error = fs_.ListFolder(folder, entries)) {
    if (folder != root_ && (error == ENOENT || error == ENOTDIR)) return 1;  // went away meanwhile
    LogF(CLogger::kError, "CFileCache::ScanPath", "Fail to list folder \"%s\" error :%d", folder.c_str(), error);
    return 0;
  }
  for (const FolderEntry& entry : entries) {
    const std::string full = folder + "/" + entry.name;
    switch (entry.status.type) {
      case EntryType::kFolder:
        ScanFolder(full, entry);
        if (!ScanPath(full, depth)) return 0;
        break;
      case EntryType::kFile:
        ScanFile(full, entry);
        break;
      case EntryType::kLink:
        if (reportedLinks_.insert(full).second) {
          LogF(CLogger::kInfo, "CFileCache::ScanPath", "Skip symbolic link: %s", full.c_str());
        }
        break;
      default:
        break;  // sockets, pipes and devices are not synchronised
    }
  }
  return 1;
}

CFileInfo CFileCache::EntryRecord(const std::string& rel, const FileStatus& status, int32_t dir) const {
  CFileInfo info(rel, dir, dir == 0 ? status.size : 0);
  CopyTimes(status, info);
  info.mtime = dir == 0 ? static_cast<int64_t>(status.writeTime) : 1;
  info.mark = GetPathMark(rel);
  return info;
}

void CFileCache::ScanFolder(const std::string& full, const FolderEntry& entry) {
  const std::string rel = full.substr(root_.size());
  int32_t dir = 1;
  if (const int32_t id = ShareIdOfFolder(full)) {
    if (scannedShares_.try_emplace(std::to_string(id), full).second) {
      dir = id;
    } else {
      RemoveShareMarker(full);  // a second folder claiming a share already seen
      RemoveFolderIcon(full);
    }
  }
  localMap_.try_emplace(CFileJournal::ToKey(rel), EntryRecord(rel, entry.status, dir));
  LogF(CLogger::kDebug, "CFileCache::ScanPath", "Local FS: %s  (%lld)>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>",
       rel.c_str(), 0LL);
}

void CFileCache::ScanFile(const std::string& full, const FolderEntry& entry) {
  const std::string& name = entry.name;
  if (IsSkippedFileName(name)) {
    if (IsTemporaryName(name)) {
      // Left by a file rebuild that was cut short.
      LogF(CLogger::kInfo, "CFileCache::ScanPath", "Remove a temporary file: %s", full.c_str());
      fs_.RemoveFile(full);
    }
    return;
  }
  const std::string rel = full.substr(root_.size());
  localMap_.try_emplace(CFileJournal::ToKey(rel), EntryRecord(rel, entry.status, 0));
  LogF(CLogger::kDebug, "CFileCache::ScanPath", "Local FS: %s  (%lld)", rel.c_str(),
       static_cast<long long>(entry.status.size));
}

bool CFileCache::IsSkippedFileName(const std::string& name) {
  return name == kFolderIconName || name == kShareMarkerName || IsTemporaryName(name);
}

int CFileCache::LookupLocal(const std::string& path, CFileInfo& info) {
  std::string rel = path;
  MakeRootRelative(rel);
  if (rel.size() < 2 || rel[0] != '/') return 0;
  // The scan reaches an entry only through folders (never links) and not
  // below kScanDepthLimit levels; the lookup follows the same way.
  std::string full = root_;
  FileStatus status;
  std::string name;
  int depth = 0;
  for (std::size_t at = 1;;) {
    const std::size_t slash = rel.find('/', at);
    name = rel.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (name.empty() || ++depth > kScanDepthLimit) return 0;
    full += "/" + name;
    fs_.Stat(full, status);
    if (slash == std::string::npos) break;
    if (status.type != EntryType::kFolder) return 0;
    at = slash + 1;
  }
  if (status.type == EntryType::kFolder) {
    const int32_t id = ShareIdOfFolder(full);
    info = EntryRecord(rel, status, id ? id : 1);
    return 1;
  }
  if (status.type != EntryType::kFile || IsSkippedFileName(name)) return 0;
  info = EntryRecord(rel, status, 0);
  return 1;
}

int32_t CFileCache::ShareIdOfFolder(const std::string& full) {
  std::string text;
  return _GetShareFolder(full, text) ? ParseShareId(text) : 0;
}

int CFileCache::FindLocal(const std::string& path, CFileInfo& info) const {
  const auto found = localMap_.find(CFileJournal::ToKey(path));
  if (found == localMap_.end()) return 0;
  info = found->second;
  return 1;
}

int CFileCache::FirstLocal(CFileInfo& info) {
  localCursor_ = localMap_.cbegin();
  return NextLocal(info);
}

int CFileCache::NextLocal(CFileInfo& info) {
  if (localCursor_ == localMap_.cend()) return 0;
  info = localCursor_->second;
  ++localCursor_;
  return 1;
}

int CFileCache::StatLocal(const std::string& path, CFileInfo& info) {
  std::string full = path;
  MakeLocalPath(full);
  FileStatus status;
  fs_.Stat(full, status);
  if (status.type != EntryType::kFolder && status.type != EntryType::kFile) return 0;
  const bool isFolder = status.type == EntryType::kFolder;
  info = CFileInfo(full, isFolder ? 1 : 0, status.size);
  CopyTimes(status, info);
  info.mtime = isFolder ? 1 : static_cast<int64_t>(status.writeTime);
  return 1;
}

void CFileCache::SetPathMark(const std::string& path, int32_t value) {
  pathMarks_[CFileJournal::ToKey(path)] = value;
}

int32_t CFileCache::GetPathMark(const std::string& path) const {
  if (path.empty()) return 0;
  const auto found = pathMarks_.find(CFileJournal::ToKey(path));
  return found == pathMarks_.end() ? 0 : found->second;
}

int CFileCache::AddScannedShare(const std::string& id, const std::string& path) {
  scannedShares_.try_emplace(id, path);
  return 1;
}

int CFileCache::FindScannedShare(const std::string& id, std::string& path) const {
  const auto found = scannedShares_.find(id);
  if (found == scannedShares_.end()) return 0;
  path = found->second;
  return 1;
}
