#pragma once
// A file cache on fresh root and cache folders, through a file system that
// can inject faults, with a status block of the test's own (never the user's).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/SharedMemory.h"
#include "store/FileCache.h"
#include "tests/support/FaultyFileSystem.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

std::string UniqueBlockName();

// Deterministic bytes in which no two 4 MiB chunks are alike.
std::string PatternBytes(std::size_t size, uint64_t seed);
// Sets a file's modify time to `seconds` + `nanoseconds` since 1970.
void SetModifyTime(const std::string& path, time_t seconds, long nanoseconds);
// Names in `folder`, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
// The counted entries of the status block `name`, by path.
std::map<std::string, SharedStatusEntry> StatusEntries(const std::string& name);

class FileCacheTest : public ::testing::Test {
 protected:
  FileCacheTest() : root(dir / "root"), cacheFolder(dir / "cache"), cache(&fs) {
    EXPECT_EQ(cache.Init(root, block), 1);
    EXPECT_EQ(cache.SetCache(cacheFolder), 1);
  }
  ~FileCacheTest() override { platform::CSharedMemory::Unlink(block); }

  std::string At(const std::string& rel) const { return root + rel; }

  LogCapture log;
  TempDir dir;
  const std::string root;
  const std::string cacheFolder;
  const std::string block = UniqueBlockName();
  FaultyFileSystem fs;
  CFileCache cache;
};
