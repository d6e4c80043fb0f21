#pragma once
// The real file system with faults a test asks for, so that failure paths run
// on real folders: an errno for an operation on matching paths, a disk that
// fills up, a file that vanishes while it is read, a coarser clock.
#include <map>
#include <set>
#include <string>

#include "platform/FileSystem.h"

class FaultyFileSystem : public platform::IFileSystem {
 public:
  enum class Op { kList, kOpenRead, kCreate, kRename, kMakeFolder, kSetTime };

  // Operation `op` on a path containing `part` fails with `error`.
  void Fail(Op op, const std::string& part, int error) { failures_[op] = {part, error}; }
  // Writes fail with ENOSPC once `bytes` bytes were written in all.
  void FillDiskAfter(int64_t bytes) { diskLeft_ = bytes; }
  // A file whose path contains `part` vanishes while it is read: the first
  // read gives at most half of what was asked, then the file is removed and
  // later reads of that descriptor fail with ENOENT.
  void VanishMidRead(const std::string& part) { vanishPart_ = part; }
  // Modify times are kept at 2 s resolution (rounded up), as FAT keeps them.
  void RoundTimesTo2s() { roundTimes_ = true; }

  int ListFolder(const std::string& folder, std::vector<platform::FolderEntry>& entries) override;
  int Stat(const std::string& path, platform::FileStatus& status) override;
  int OpenRead(const std::string& path, int& fd) override;
  int OpenWrite(const std::string& path, int& fd) override;
  int CreateExclusive(const std::string& path, int& fd) override;
  ssize_t Read(int fd, void* data, std::size_t size) override;
  int Seek(int fd, int64_t offset) override { return real_.Seek(fd, offset); }
  ssize_t Write(int fd, const void* data, std::size_t size) override;
  int SetMode(int fd, mode_t mode) override { return real_.SetMode(fd, mode); }
  int Sync(int fd) override { return real_.Sync(fd); }
  int Close(int fd) override;
  int Rename(const std::string& from, const std::string& to, bool replace) override;
  int RemoveFile(const std::string& path) override { return real_.RemoveFile(path); }
  int MakeFolder(const std::string& path, mode_t mode) override;
  int SetWriteTime(const std::string& path, FileTime time) override;

 private:
  struct Failure {
    std::string part;
    int error = 0;
  };
  // The injected errno for `op` on `path`, or 0.
  int Injected(Op op, const std::string& path) const;

  platform::IFileSystem& real_ = platform::RealFileSystem();
  std::map<Op, Failure> failures_;
  int64_t diskLeft_ = -1;  // -1: unlimited
  std::string vanishPart_;
  std::map<int, std::string> vanishing_;  // descriptor -> path, until its first read
  std::set<int> vanished_;
  bool roundTimes_ = false;
};
