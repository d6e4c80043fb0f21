// Cutting the next file ahead on a second thread must give exactly what
// cutting it in place gives, and never a version the file no longer has.
#include "engine/ChunkPrefetch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/SharedMemory.h"
#include "store/FileCache.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

class ChunkPrefetchTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directories(root_));
    ASSERT_EQ(cache_.Init(root_, block_), 1);
    ASSERT_EQ(cache_.SetCache(dir_ / "cache"), 1);
  }
  void TearDown() override { platform::CSharedMemory::Unlink(block_); }

  // The scan's record of a file written with `content`.
  CFileInfo Write(const std::string& rel, const std::string& content) {
    WriteFile(root_ + rel, content);
    CFileInfo scanned;
    EXPECT_EQ(cache_.LookupLocal(rel, scanned), 1);
    return scanned;
  }
  // The chunk list of `content` cut in place.
  std::string CutInPlace(const std::string& rel, const CFileInfo& scanned) {
    CFileInfo file = scanned;
    EXPECT_EQ(cache_.LoadChunk(rel, file), 1);
    return file.chunkList;
  }

  LogCapture log_;
  TempDir dir_;
  const std::string root_ = dir_ / "root";
  const std::string block_ = "/vessa-prefetch-test-" + std::to_string(getpid());
  CFileCache cache_;
};

TEST_F(ChunkPrefetchTest, AFileCutAheadIsWhatCuttingItInPlaceGives) {
  const std::string content(kChunkSize + 5000, 'x');  // two chunks, both kept in memory
  const CFileInfo scanned = Write("/a.bin", content);
  const std::string expected = CutInPlace("/a.bin", scanned);
  CChunkPrefetch prefetch(cache_);
  prefetch.Start(scanned);
  CFileInfo file = scanned;
  ASSERT_EQ(prefetch.Load("/a.bin", file), 1);
  EXPECT_EQ(file.chunkList, expected);
  EXPECT_EQ(file.path, scanned.path);
  ASSERT_EQ(file.chunks.size(), 2u);
  for (const CChunkInfo& chunk : file.chunks) EXPECT_TRUE(file.HasChunkBuffer(chunk.key));
}

TEST_F(ChunkPrefetchTest, AFileChangedAfterItWasCutAheadIsCutAgain) {
  const CFileInfo before = Write("/a.txt", "first version");
  const std::string firstList = CutInPlace("/a.txt", before);
  CChunkPrefetch prefetch(cache_);
  prefetch.Start(before);
  const CFileInfo after = Write("/a.txt", "the second, longer version");
  CFileInfo file = after;
  ASSERT_EQ(prefetch.Load("/a.txt", file), 1);
  EXPECT_EQ(file.chunkList, CutInPlace("/a.txt", after));
  EXPECT_NE(file.chunkList, firstList);
  // Another file than the one cut ahead is cut in place.
  const CFileInfo other = Write("/b.txt", "b");
  CFileInfo otherFile = other;
  ASSERT_EQ(prefetch.Load("/b.txt", otherFile), 1);
  EXPECT_EQ(otherFile.chunkList, CutInPlace("/b.txt", other));
}

}  // namespace
