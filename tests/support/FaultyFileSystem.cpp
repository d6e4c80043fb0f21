#include "tests/support/FaultyFileSystem.h"

#include <algorithm>
#include <cerrno>

int FaultyFileSystem::Injected(Op op, const std::string& path) const {
  const auto found = failures_.find(op);
  if (found == failures_.end() || path.find(found->second.part) == std::string::npos) return 0;
  return found->second.error;
}

int FaultyFileSystem::ListFolder(const std::string& folder, std::vector<platform::FolderEntry>& entries) {
  if (const int error = Injected(Op::kList, folder)) return error;
  return real_.ListFolder(folder, entries);
}

int FaultyFileSystem::Stat(const std::string& path, platform::FileStatus& status) {
  return real_.Stat(path, status);
}

int FaultyFileSystem::OpenRead(const std::string& path, int& fd) {
  if (const int error = Injected(Op::kOpenRead, path)) return error;
  const int error = real_.OpenRead(path, fd);
  if (!error && !vanishPart_.empty() && path.find(vanishPart_) != std::string::npos) vanishing_[fd] = path;
  return error;
}

int FaultyFileSystem::OpenWrite(const std::string& path, int& fd) {
  if (const int error = Injected(Op::kCreate, path)) return error;
  return real_.OpenWrite(path, fd);
}

int FaultyFileSystem::CreateExclusive(const std::string& path, int& fd) {
  if (const int error = Injected(Op::kCreate, path)) return error;
  return real_.CreateExclusive(path, fd);
}

ssize_t FaultyFileSystem::Read(int fd, void* data, std::size_t size) {
  if (vanished_.count(fd)) return -ENOENT;
  const auto found = vanishing_.find(fd);
  if (found == vanishing_.end()) return real_.Read(fd, data, size);
  const ssize_t got = real_.Read(fd, data, std::max<std::size_t>(size / 2, 1));
  real_.RemoveFile(found->second);
  vanishing_.erase(found);
  vanished_.insert(fd);
  return got;
}

ssize_t FaultyFileSystem::Write(int fd, const void* data, std::size_t size) {
  if (diskLeft_ < 0) return real_.Write(fd, data, size);
  if (diskLeft_ == 0) return -ENOSPC;
  const ssize_t put = real_.Write(fd, data, std::min<std::size_t>(size, static_cast<std::size_t>(diskLeft_)));
  if (put > 0) diskLeft_ -= put;
  return put;
}

int FaultyFileSystem::Close(int fd) {
  vanishing_.erase(fd);
  vanished_.erase(fd);
  return real_.Close(fd);
}

int FaultyFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
  if (const int error = Injected(Op::kRename, to)) return error;
  return real_.Rename(from, to, replace);
}

int FaultyFileSystem::MakeFolder(const std::string& path, mode_t mode) {
  if (const int error = Injected(Op::kMakeFolder, path)) return error;
  return real_.MakeFolder(path, mode);
}

int FaultyFileSystem::SetWriteTime(const std::string& path, FileTime time) {
  if (const int error = Injected(Op::kSetTime, path)) return error;
  constexpr FileTime kTwoSeconds = 20000000;
  if (roundTimes_) time = (time + kTwoSeconds - 1) / kTwoSeconds * kTwoSeconds;
  return real_.SetWriteTime(path, time);
}
