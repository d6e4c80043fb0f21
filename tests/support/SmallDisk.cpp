#include "tests/support/SmallDisk.h"

#include <sys/mount.h>

#include <filesystem>

SmallDisk::SmallDisk(std::string folder, std::size_t bytes) : folder_(std::move(folder)) {
  std::filesystem::create_directories(folder_);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
  mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}
