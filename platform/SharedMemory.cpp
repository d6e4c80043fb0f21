#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

CSharedMemory::~CSharedMemory() { Close(); }

bool CSharedMemory::Create(const std::string& name, std::size_t size) {
  Close();
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  const bool ours = fstat(fd, &st) == 0 && st.st_uid == geteuid();
  const bool ready = ours && fchmod(fd, 0600) == 0 &&
                     (static_cast<std::size_t>(st.st_size) >= size || ftruncate(fd, static_cast<off_t>(size)) == 0);
  const bool mapped = ready && Map(fd, size, true);
  close(fd);
  return mapped;
}

bool CSharedMemory::OpenReadOnly(const std::string& name, std::size_t size) {
  Close();
  const int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st {};
  const bool mapped = fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= size && Map(fd, size, false);
  close(fd);
  return mapped;
}

bool CSharedMemory::Map(int fd, std::size_t size, bool writable) {
  const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void* area = mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
  if (area == MAP_FAILED) return false;
  data_ = area;
  size_ = size;
  return true;
}

void CSharedMemory::Close() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool CSharedMemory::Unlink(const std::string& name) { return shm_unlink(name.c_str()) == 0; }

}  // namespace platform
