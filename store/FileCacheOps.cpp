// CFileCache: file operations, share markers and folder icon files.
#include <cerrno>
#include <cstring>
#include <vector>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "platform/Paths.h"
#include "store/FileCache.h"
#include "store/ReplacingFile.h"

using platform::EntryType;
using platform::FileStatus;

namespace {

std::string Absolute(const CFileCache& cache, const std::string& path) {
  std::string full = path;
  cache.MakeLocalPath(full);
  return full;
}

std::string InstallFolder() {
  std::string folder;
  if (CUtil::ReadInstallPath(folder) && !folder.empty()) return folder;
  return platform::DefaultInstallDir();
}

}  // namespace

int CFileCache::Prompt(int error) { return prompt_ ? prompt_(std::strerror(error)) : 0; }

void CFileCache::NoteWriteError(int error, const std::string& path) {
  if (error != ENOSPC && error != EDQUOT) return;
  const std::size_t slash = path.rfind('/');
  std::lock_guard<std::mutex> lock(noSpaceMutex_);
  noSpaceFolder_ = slash == std::string::npos || slash == 0 ? path : path.substr(0, slash);
}

bool CFileCache::TakeNoSpaceFolder(std::string& folder) {
  std::lock_guard<std::mutex> lock(noSpaceMutex_);
  if (noSpaceFolder_.empty()) return false;
  folder = std::move(noSpaceFolder_);
  noSpaceFolder_.clear();
  return true;
}

// ---- file operations ----

int CFileCache::MkDir(const std::string& path) {
  const std::string full = Absolute(*this, path);
  LogF(CLogger::kInfo, "CFileCache::MkDir", "make a new folder: %s", full.c_str());
  FileStatus status;
  fs_.Stat(full, status);
  if (status.type == EntryType::kFolder) {
    LogF(CLogger::kWarn, "CFileCache::MkDir", "folder {%s} exists", full.c_str());
    return 1;
  }
  if (fs_.MakeFolder(full, 0777) != 0) {
    LogF(CLogger::kError, "CFileCache::MkDir", "Fail to create a folder: %s", full.c_str());
    return 0;
  }
  return 1;
}

int CFileCache::Remove(const std::string& path) {
  const std::string full = Absolute(*this, path);
  FileStatus status;
  fs_.Stat(full, status);
  if (status.type == EntryType::kFolder) {
    LogF(CLogger::kInfo, "CFileCache::Remove", "Remove a local folder: %s", full.c_str());
    return CUtil::DeleteFolder(full);  // links inside go as links
  }
  LogF(CLogger::kInfo, "CFileCache::Remove", "Remove a local file: %s", full.c_str());
  return fs_.RemoveFile(full) == 0 ? 1 : 0;
}

int CFileCache::Rename(const std::string& from, const std::string& to) {
  const std::string source = Absolute(*this, from);
  const std::string target = Absolute(*this, to);
  int error = fs_.Rename(source, target, false);
  if (error == EXDEV) {
    FileStatus existing;
    fs_.Stat(target, existing);
    if (existing.type != EntryType::kMissing) {
      error = EEXIST;
    } else if (CUtil::MoveFiles(source, target)) {  // copies, then removes the source
      error = 0;
    }
  }
  if (error) {
    LogF(CLogger::kError, "CFileCache::Rename", "Fail to rename \"%s\" to \"%s\"", source.c_str(), target.c_str());
    return 0;
  }
  return 1;
}

int CFileCache::Copy(const std::string& from, const std::string& to) {
  const std::string source = Absolute(*this, from);
  const std::string target = Absolute(*this, to);
  FileStatus status;
  int fd = -1;
  int error = fs_.Stat(source, status);
  if (!error) error = fs_.OpenRead(source, fd);
  CReplacingFile copy(fs_, target);
  if (!error) error = copy.Open();
  std::vector<unsigned char> buffer(1 << 20);
  while (!error) {
    const int64_t got = ReadFull(fs_, fd, buffer.data(), buffer.size());
    if (got <= 0) {
      error = got < 0 ? static_cast<int>(-got) : 0;
      break;
    }
    error = copy.Write(buffer.data(), static_cast<std::size_t>(got));
  }
  if (fd >= 0) fs_.Close(fd);
  if (!error) error = copy.SetMode(status.mode);
  if (!error) error = copy.Close(true);
  if (!error) error = fs_.SetWriteTime(copy.tempPath(), status.writeTime);  // a copy keeps the modify time
  if (!error) error = copy.Commit();
  if (error) {
    LogF(CLogger::kError, "CFileCache::Copy", "Fail to rename \"%s\" to \"%s\"", source.c_str(), target.c_str());
    NoteWriteError(error, target);
    return 0;
  }
  return 1;
}

int CFileCache::SetFileTime(const CFileInfo& info) {
  if (info.dir != 0) return 1;
  const std::string full = Absolute(*this, info.path);
  if (fs_.SetWriteTime(full, static_cast<FileTime>(info.mtime)) != 0) {
    LogF(CLogger::kError, "CFileCache::SetFileTime", "Fail to open a localfile {%s}", full.c_str());
    return 0;
  }
  return 1;
}

// ---- share markers and folder icon files ----

int CFileCache::SetHomeIcon(const std::string& folder) {
  _SetFolderIcon(Absolute(*this, folder), InstallFolder() + "/res/Home.ico", "");
  return 1;
}

int CFileCache::SetShareIcon(const std::string& folder, bool sharedByMe, const std::string& owner) {
  const char* icon = sharedByMe ? "/res/ShareTo.ico" : "/res/ShareFrom.ico";
  _SetFolderIcon(Absolute(*this, folder), InstallFolder() + icon, owner);
  return 1;
}

int CFileCache::RemoveFolderIcon(const std::string& folder) {
  Remove(Absolute(*this, folder) + "/" + kFolderIconName);
  return 1;
}

int CFileCache::SetShareFolder(const std::string& folder, const std::string& id) {
  return _SetShareFolder(Absolute(*this, folder), id);
}

int CFileCache::RemoveShareMarker(const std::string& folder) {
  Remove(Absolute(*this, folder) + "/" + kShareMarkerName);
  return 1;
}

int CFileCache::_SetFolderIcon(const std::string& folder, const std::string& iconFile, const std::string& owner) {
  const std::string text =
      owner.empty()
          ? StrFormat("[.ShellClassInfo]\r\nIconFile=%s\r\nIconIndex=0\r\nInfoTip=vessa\r\n", iconFile.c_str())
          : StrFormat("[.ShellClassInfo]\r\nIconFile=%s\r\nIconIndex=0\r\nInfoTip=share from %s\r\n",
                      iconFile.c_str(), owner.c_str());
  return WriteSmallFile("CFileCache::_SetFolderIcon", folder + "/" + kFolderIconName, text);
}

int CFileCache::_SetShareFolder(const std::string& folder, const std::string& id) {
  return WriteSmallFile("CFileCache::_SetShareFolder", folder + "/" + kShareMarkerName, id);
}

int CFileCache::_GetShareFolder(const std::string& folder, std::string& id) {
  const std::string marker = folder + "/" + kShareMarkerName;
  FileStatus status;
  fs_.Stat(marker, status);
  if (status.type != EntryType::kFile) return 0;
  int fd = -1;
  char text[128];
  int64_t got = fs_.OpenRead(marker, fd) == 0 ? ReadFull(fs_, fd, text, sizeof text) : -1;
  if (fd >= 0) fs_.Close(fd);
  if (got < 0) {
    LogF(CLogger::kError, "CFileCache::_GetShareFolder", "Fail to open file \"%s\"", marker.c_str());
    return 0;
  }
  id.assign(text, static_cast<std::size_t>(got));
  return 1;
}

// Replaces a marker or icon file whole, so a reader never sees half of it.
int CFileCache::WriteSmallFile(const char* function, const std::string& path, const std::string& content) {
  CReplacingFile file(fs_, path);
  int error = file.Open();
  if (!error) error = file.Write(content.data(), content.size());
  if (!error) error = file.Close(false);
  if (!error) error = file.Commit();
  if (error) {
    LogF(CLogger::kError, function, "Fail to creat file \"%s\"", path.c_str());
    NoteWriteError(error, path);
    Prompt(error);
    return 0;
  }
  return 1;
}
