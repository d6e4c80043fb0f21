#include "platform/SingleInstance.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Paths.h"

namespace platform {

namespace {

constexpr const char* kLockName = "VorClientSelfMutex.lock";

}  // namespace

std::string SingleInstanceLockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/" + kLockName;
  return ConfigDir() + "/" + kLockName;
}

CSingleInstance::~CSingleInstance() {
  if (fd_ >= 0) close(fd_);  // closing the only descriptor releases the lock
}

CSingleInstance::Result CSingleInstance::Acquire(const std::string& path) {
  if (fd_ >= 0) return Result::kAcquired;
  const std::string::size_type slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) MakeDirs(path.substr(0, slash));
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Result::kUnavailable;
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? Result::kHeldElsewhere : Result::kUnavailable;
  }
  fd_ = fd;
  return Result::kAcquired;
}

}  // namespace platform
