#pragma once
// A new version of a file, written under a hidden temporary name in the
// target's folder and moved over the target only when complete. Until then
// the target keeps its old content (or stays absent); an abandoned version
// leaves nothing behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/FileSystem.h"

class CReplacingFile {
 public:
  CReplacingFile(platform::IFileSystem& fs, std::string target);
  ~CReplacingFile();  // abandons an uncommitted version
  CReplacingFile(const CReplacingFile&) = delete;
  CReplacingFile& operator=(const CReplacingFile&) = delete;

  // Creates the temporary file; 0 or an errno value.
  int Open();
  // Writes all bytes; 0 or an errno value.
  int Write(const void* data, std::size_t size);
  int SetMode(mode_t mode);
  // Flushes what was written to the disk, the file staying open.
  int Flush();
  // Closes the temporary file, first flushing it to the disk when `durable`.
  int Close(bool durable);
  // The version goes over `target` instead (a rename: on the same file system).
  void Retarget(std::string target) { target_ = std::move(target); }
  // Moves the closed temporary file over the target.
  int Commit();
  // Closes and removes the temporary file.
  void Abandon();

  int64_t written() const { return written_; }
  const std::string& tempPath() const { return tempPath_; }
  const std::string& target() const { return target_; }

 private:
  platform::IFileSystem& fs_;
  std::string target_;
  std::string tempPath_;
  int fd_ = -1;
  int64_t written_ = 0;
  bool committed_ = false;
};

// Reads until `size` bytes or the end of the file; the count or -errno.
int64_t ReadFull(platform::IFileSystem& fs, int fd, void* data, std::size_t size);
