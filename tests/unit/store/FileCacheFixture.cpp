#include "tests/unit/store/FileCacheFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

std::string UniqueBlockName() {
  static int count = 0;
  return "/vessa-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
}

std::string PatternBytes(std::size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    const std::size_t n = std::min<std::size_t>(8, size - i);
    for (std::size_t k = 0; k < n; ++k) bytes[i + k] = static_cast<char>(state >> (8 * k));
  }
  return bytes;
}

void SetModifyTime(const std::string& path, time_t seconds, long nanoseconds) {
  const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, SharedStatusEntry> StatusEntries(const std::string& name) {
  std::map<std::string, SharedStatusEntry> entries;
  platform::CSharedMemory memory;
  if (!memory.OpenReadOnly(name, kStatusBlockSize)) return entries;
  for (const SharedStatusEntry& entry : ReadStatusEntries(memory.data(), memory.size())) {
    entries.emplace(entry.path, entry);
  }
  return entries;
}
