#pragma once
// The file-system calls of the local store, behind one small interface so that
// tests can wrap the real one and inject faults (disk full, permission denied,
// a file vanishing mid-read, a coarser time resolution) on real folders.
//
// Every function works on the named entry itself: symbolic links are reported
// and removed as links, never followed. Results are 0 on success or an errno
// value; Read and Write return the byte count, or -errno.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileTime.h"

namespace platform {

enum class EntryType { kMissing, kFile, kFolder, kLink, kOther };

struct FileStatus {
  EntryType type = EntryType::kMissing;
  int64_t size = 0;
  mode_t mode = 0;          // permission bits
  FileTime writeTime = 0;   // st_mtim
  FileTime accessTime = 0;  // st_atim
  FileTime changeTime = 0;  // st_ctim (Linux keeps no creation time)
};

struct FolderEntry {
  std::string name;
  FileStatus status;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // The entries of `folder` but "." and "..", in the order the file system
  // returns them, each with its status (entries are not followed; `folder`
  // itself may be reached through a link, as a user folder kept elsewhere is).
  virtual int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) = 0;
  // Status of the entry itself (lstat); a missing entry is kMissing and 0.
  virtual int Stat(const std::string& path, FileStatus& status) = 0;

  // Opens an existing regular file for reading (a link is refused).
  virtual int OpenRead(const std::string& path, int& fd) = 0;
  // Creates or truncates a file for writing (a link is refused).
  virtual int OpenWrite(const std::string& path, int& fd) = 0;
  // Creates a new file for writing; fails with EEXIST when anything is there.
  virtual int CreateExclusive(const std::string& path, int& fd) = 0;
  virtual ssize_t Read(int fd, void* data, std::size_t size) = 0;
  // Moves the position of an open file to `offset` from its start.
  virtual int Seek(int fd, int64_t offset) = 0;
  virtual ssize_t Write(int fd, const void* data, std::size_t size) = 0;
  virtual int SetMode(int fd, mode_t mode) = 0;
  virtual int Sync(int fd) = 0;
  virtual int Close(int fd) = 0;

  // Moves an entry; with `replace` false an existing target makes it fail
  // with EEXIST.
  virtual int Rename(const std::string& from, const std::string& to, bool replace) = 0;
  // Removes a file or link (never a folder).
  virtual int RemoveFile(const std::string& path) = 0;
  virtual int MakeFolder(const std::string& path, mode_t mode) = 0;
  // Sets the last-write time, leaving the access time.
  virtual int SetWriteTime(const std::string& path, FileTime time) = 0;
};

// The process's real file system.
IFileSystem& RealFileSystem();

}  // namespace platform
