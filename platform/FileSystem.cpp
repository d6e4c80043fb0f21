#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as any new file

FileStatus ToStatus(const struct stat& st) {
  FileStatus status;
  if (S_ISREG(st.st_mode)) {
    status.type = EntryType::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    status.type = EntryType::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    status.type = EntryType::kLink;
  } else {
    status.type = EntryType::kOther;
  }
  status.size = status.type == EntryType::kFile ? static_cast<int64_t>(st.st_size) : 0;
  status.mode = st.st_mode & 07777;
  status.writeTime = ToFileTime(st.st_mtim);
  status.accessTime = ToFileTime(st.st_atim);
  status.changeTime = ToFileTime(st.st_ctim);
  return status;
}

int OpenWith(const std::string& path, int flags, int& fd) {
  fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, kNewFileMode);
  return fd < 0 ? errno : 0;
}

class CRealFileSystem : public IFileSystem {
 public:
  int ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) override {
    entries.clear();
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* dir = fdopendir(fd);
    if (!dir) {
      const int error = errno;
      close(fd);
      return error;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      struct stat st {};
      // An entry removed since readdir saw it is simply left out.
      if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      entries.push_back({name, ToStatus(st)});
    }
    closedir(dir);
    return 0;
  }

  int Stat(const std::string& path, FileStatus& status) override {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      status = ToStatus(st);
      return 0;
    }
    status = FileStatus();
    return (errno == ENOENT || errno == ENOTDIR) ? 0 : errno;
  }

  int OpenRead(const std::string& path, int& fd) override {
    const int error = OpenWith(path, O_RDONLY | O_NONBLOCK, fd);
    if (error) return error;
    // Reading a FIFO or a device would block or never end.
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      fd = -1;
      return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    fcntl(fd, F_SETFL, 0);
    return 0;
  }

  int OpenWrite(const std::string& path, int& fd) override {
    return OpenWith(path, O_WRONLY | O_CREAT | O_TRUNC, fd);
  }

  int CreateExclusive(const std::string& path, int& fd) override {
    return OpenWith(path, O_WRONLY | O_CREAT | O_EXCL, fd);
  }

  ssize_t Read(int fd, void* data, std::size_t size) override {
    const ssize_t got = read(fd, data, size);
    return got < 0 ? -errno : got;
  }

  int Seek(int fd, int64_t offset) override {
    return lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) ? 0 : errno;
  }

  ssize_t Write(int fd, const void* data, std::size_t size) override {
    const ssize_t put = write(fd, data, size);
    return put < 0 ? -errno : put;
  }

  int SetMode(int fd, mode_t mode) override { return fchmod(fd, mode) == 0 ? 0 : errno; }
  int Sync(int fd) override { return fdatasync(fd) == 0 ? 0 : errno; }
  int Close(int fd) override { return close(fd) == 0 ? 0 : errno; }

  int Rename(const std::string& from, const std::string& to, bool replace) override {
    if (replace) return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without RENAME_NOREPLACE: test, then move.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }

  int RemoveFile(const std::string& path) override { return unlink(path.c_str()) == 0 ? 0 : errno; }

  int MakeFolder(const std::string& path, mode_t mode) override {
    return mkdir(path.c_str(), mode) == 0 ? 0 : errno;
  }

  int SetWriteTime(const std::string& path, FileTime time) override {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(time);
    return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  }
};

}  // namespace

IFileSystem& RealFileSystem() {
  static CRealFileSystem fileSystem;
  return fileSystem;
}

}  // namespace platform
