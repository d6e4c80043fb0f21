#pragma once
// A small file system of its own (tmpfs) mounted at a folder, so that a test
// can fill a disk for real. Mounting takes the privilege to mount (root, as
// the CI runs); without it Mounted() is false and the test skips.
#include <cstddef>
#include <string>

class SmallDisk {
 public:
  SmallDisk(std::string folder, std::size_t bytes);
  ~SmallDisk();  // unmounts
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};
