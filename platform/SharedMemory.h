#pragma once
// A named block of memory shared with other processes of the same user
// (POSIX shared memory), the stand-in for a named file mapping.
#include <cstddef>
#include <string>

namespace platform {

class CSharedMemory {
 public:
  CSharedMemory() = default;
  ~CSharedMemory();  // unmaps; the named object stays for other processes
  CSharedMemory(const CSharedMemory&) = delete;
  CSharedMemory& operator=(const CSharedMemory&) = delete;

  // Creates or opens the object `name` ("/..."), owner-only (0600), grows it
  // to `size` bytes when smaller and maps it for reading and writing. An
  // existing object of another user is refused, since its owner could read
  // or forge what is written there.
  bool Create(const std::string& name, std::size_t size);
  // Maps an existing object for reading only; fails when it is smaller than
  // `size` bytes.
  bool OpenReadOnly(const std::string& name, std::size_t size);
  void Close();

  void* data() const { return data_; }
  std::size_t size() const { return size_; }

  // Removes the name (mappings in use stay valid).
  static bool Unlink(const std::string& name);

 private:
  bool Map(int fd, std::size_t size, bool writable);

  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace platform
