// Cutting files into chunks, the chunk cache and rebuilding files.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "foundation/Util.h"
#include "store/FileJournal.h"
#include "tests/support/Md5Text.h"
#include "tests/unit/store/FileCacheFixture.h"

namespace {

namespace fs = std::filesystem;

// A record of a local file as the scan gives it.
CFileInfo LocalFile(const std::string& rel, int64_t size) { return CFileInfo(rel, 0, size); }

TEST_F(FileCacheTest, LoadChunkCutsFilesAtFourMebibytes) {
  struct Case {
    int64_t size;
    std::vector<int32_t> chunkSizes;
    std::vector<int32_t> blockCounts;
  };
  const Case cases[] = {
      {0, {}, {}},
      {4194304, {4194304}, {1024}},
      {4194305, {4194304, 1}, {1024, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string bytes = PatternBytes(static_cast<std::size_t>(c.size), 1);
    WriteFile(At("/f.bin"), bytes);
    CFileInfo info = LocalFile("/f.bin", c.size);
    ASSERT_EQ(cache.LoadChunk(info), 1);
    ASSERT_EQ(info.chunks.size(), c.chunkSizes.size());
    std::string expectedList;
    int64_t offset = 0;
    for (std::size_t i = 0; i < info.chunks.size(); ++i) {
      const CChunkInfo& chunk = info.chunks[i];
      const std::string key = Md5Text(bytes.substr(offset, c.chunkSizes[i]));
      EXPECT_EQ(chunk.key, key);
      EXPECT_EQ(chunk.size, c.chunkSizes[i]);
      EXPECT_EQ(chunk.blockCount, c.blockCounts[i]);
      EXPECT_TRUE(info.HasChunkBuffer(key));
      expectedList += (i ? "," : "") + key;
      offset += c.chunkSizes[i];
    }
    EXPECT_EQ(info.chunkList, expectedList);
    EXPECT_EQ(info.chunkCount, static_cast<int32_t>(c.chunkSizes.size()));
  }
  // The one-byte last chunk: one block, with that byte's digest.
  CFileInfo info = LocalFile("/f.bin", 4194305);
  ASSERT_EQ(cache.LoadChunk(info), 1);
  std::string sums;
  std::string hashes;
  int count = 0;
  CUtil::BlockSignatureLists(PatternBytes(4194305, 1).data() + 4194304, 1, sums, hashes, count);
  EXPECT_EQ(info.chunks[1].blockSum, sums);
  EXPECT_EQ(info.chunks[1].blockHash, hashes);
  EXPECT_EQ(hashes.size(), 33u);
}

TEST_F(FileCacheTest, FileFromSixtyFourMebibytesOnGoesThroughTheCache) {
  const std::string bytes = PatternBytes(70000000, 2);
  WriteFile(At("/big.bin"), bytes);
  CFileInfo info = LocalFile("/big.bin", 70000000);

  ASSERT_EQ(cache.LoadChunk(info), 1);
  ASSERT_EQ(info.chunks.size(), 17u);
  EXPECT_EQ(info.chunks.back().size, 70000000 - 16 * 4194304);
  for (const CChunkInfo& chunk : info.chunks) {
    EXPECT_FALSE(info.HasChunkBuffer(chunk.key));
    CChunkInfo cached;
    ASSERT_EQ(cache.FindCachedChunk(chunk.key, cached), 1);
    EXPECT_EQ(cached.size, chunk.size);
  }
  EXPECT_EQ(ReadFile(cacheFolder + "/" + info.chunks[16].key), bytes.substr(16 * 4194304));

  info.path = "/rebuilt.bin";
  ASSERT_EQ(cache.MakeFile(info), 1);
  EXPECT_TRUE(ReadFile(At("/rebuilt.bin")) == bytes);
}

TEST_F(FileCacheTest, LoadChunkFailsWhenTheFileIsNotTheRecordedSize) {
  WriteFile(At("/grown.bin"), PatternBytes(5000, 3));
  CFileInfo info = LocalFile("/grown.bin", 4000);
  EXPECT_EQ(cache.LoadChunk(info), 0);
  EXPECT_TRUE(log.Contains("Mismatched filesize 5000 with 4000 of file: " + At("/grown.bin")));

  CFileInfo missing = LocalFile("/missing.bin", 1);
  EXPECT_EQ(cache.LoadChunk(missing), 0);
  EXPECT_TRUE(log.Contains("Fail to open a localfile {" + At("/missing.bin") + "}"));

  WriteFile(At("/vanishing.bin"), PatternBytes(6000000, 3));
  fs.VanishMidRead("/vanishing.bin");
  CFileInfo vanishing = LocalFile("/vanishing.bin", 6000000);
  EXPECT_EQ(cache.LoadChunk(vanishing), 0);
  EXPECT_TRUE(log.Contains("[CFileCache::LoadChunk]: Fail to read a localfile {" + At("/vanishing.bin") + "}"));
}

TEST_F(FileCacheTest, FolderOrLoadedRecordIsLeftAlone) {
  CFileInfo folder("/docs", 1, 0);
  EXPECT_EQ(cache.LoadChunk(folder), 1);
  EXPECT_TRUE(log.Contains("Can't load chunk from /docs"));

  WriteFile(At("/f.bin"), "abc");
  CFileInfo info = LocalFile("/f.bin", 3);
  ASSERT_EQ(cache.LoadChunk(info), 1);
  WriteFile(At("/f.bin"), "changed");  // not read again: the buffers are there
  EXPECT_EQ(cache.LoadChunk(info), 1);
  EXPECT_EQ(info.chunkList, Md5Text("abc"));
}

TEST_F(FileCacheTest, CacheReadsExactlyTheChunkSize) {
  const std::string bytes = "0123456789";
  const std::string key = Md5Text(bytes);
  CChunkBuffer buffer(kChunkSize);
  std::memcpy(buffer.data(), bytes.data(), bytes.size());
  buffer.SetLength(10);
  ASSERT_EQ(cache.CacheChunk(key, buffer), 1);
  CChunkInfo chunk;
  chunk.key = key;
  chunk.size = 10;
  CChunkBuffer back(16);
  ASSERT_EQ(cache.GetChunkCache(chunk, back), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(back.data()), back.length()), bytes);

  fs::resize_file(cacheFolder + "/" + key, 9);
  EXPECT_EQ(cache.GetChunkCache(chunk, back), 0);
  EXPECT_TRUE(log.Contains("Mismated chunk size: " + key + "(9, 10)"));

  CFileInfo info("/made.bin", 0, 10);
  info.AddChunk(key, 10, "", "", 0);
  info.BuildChunkList();
  EXPECT_EQ(cache.MakeFile(info), 0);
  EXPECT_TRUE(log.Contains("Fail to get chunk of {" + key + "} from cache"));
  EXPECT_TRUE(FolderNames(root).empty());  // neither the file nor a temporary one
}

TEST_F(FileCacheTest, CacheRefusesKeysThatAreNotDigests) {
  CChunkBuffer buffer(4);
  buffer.SetLength(4);
  EXPECT_EQ(cache.CacheChunk("../escaped", buffer), 0);
  EXPECT_FALSE(fs::exists(dir / "escaped"));
  CChunkInfo chunk;
  EXPECT_EQ(cache.FindCachedChunk("../escaped", chunk), 0);
  chunk.size = 7;
  EXPECT_EQ(cache.GetChunkCache(chunk, buffer), 0);
  EXPECT_TRUE(log.Contains("Fail to process chunk: (7)"));
}

// A 9 MB file whose first two chunks are equal: both are rebuilt from the
// one buffer the record keeps for their key.
class MakeFileTest : public FileCacheTest {
 protected:
  MakeFileTest() {
    const std::string chunk = PatternBytes(4194304, 4);
    bytes = chunk + chunk + PatternBytes(600000, 5);
    WriteFile(At("/source.bin"), bytes);
    SetModifyTime(At("/source.bin"), 1264583103, 42123400);
    CFileInfo scanned;
    cache.StatLocal("/source.bin", scanned);
    record = LocalFile("/target.bin", scanned.size);
    record.mtime = scanned.mtime;
    EXPECT_EQ(cache.LoadChunk("/source.bin", record), 1);
  }
  // Moves the record's chunks to the cache, so MakeFile reads them from there.
  void CacheAllChunks() {
    for (const CChunkInfo& chunk : record.chunks) {
      if (std::unique_ptr<CChunkBuffer> buffer = record.TakeChunkBuffer(chunk.key)) {
        cache.CacheChunk(chunk.key, *buffer);
      }
    }
  }

  std::string bytes;
  CFileInfo record;
};

TEST_F(MakeFileTest, RebuildsContentTimeAndKeepsPermissions) {
  ASSERT_EQ(record.chunks.size(), 3u);
  EXPECT_EQ(record.chunks[0].key, record.chunks[1].key);
  WriteFile(At("/target.bin"), "old");
  fs::permissions(At("/target.bin"), fs::perms(0750));

  ASSERT_EQ(cache.MakeFile(record), 1);
  EXPECT_TRUE(ReadFile(At("/target.bin")) == bytes);
  EXPECT_EQ(fs::status(At("/target.bin")).permissions(), fs::perms(0750));
  CFileInfo made;
  ASSERT_EQ(cache.StatLocal("/target.bin", made), 1);
  EXPECT_EQ(made.mtime, 129090567030421234LL);
  EXPECT_EQ(record.mtime, 129090567030421234LL);
  EXPECT_EQ(record.timeAdjusted, 0);
  EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"source.bin", "target.bin"}));
  EXPECT_EQ(StatusEntries(block).at(CFileJournal::ToKey(At("/target.bin"))).status, 2);
}

TEST_F(MakeFileTest, CoarserClockGivesTheRecordTheKeptTime) {
  fs.RoundTimesTo2s();  // 1264583103.0421234 s is kept as 1264583104 s
  ASSERT_EQ(cache.MakeFile(record), 1);
  EXPECT_EQ(record.timeAdjusted, 1);
  EXPECT_EQ(record.mtime, 129090567040000000LL);
  CFileInfo made;
  ASSERT_EQ(cache.StatLocal("/target.bin", made), 1);
  EXPECT_EQ(made.mtime, record.mtime);
  EXPECT_TRUE(log.Contains("Mayble a resolution of 2 seconds from file: " + At("/target.bin") +
                           "(129090567040000000 <-> 129090567030421234)"));
}

TEST_F(MakeFileTest, FailuresLeaveTheOldFileAndNoPartialOne) {
  struct Case {
    const char* name;
    std::function<void(FaultyFileSystem&)> inject;
    bool fromCache;
    std::string logged;
  };
  const Case cases[] = {
      {"disk full", [](FaultyFileSystem& f) { f.FillDiskAfter(5000000); }, false,
       "Fail to write a localfile {" + At("/target.bin") + "} error :28"},
      {"chunk vanishes while read", [&](FaultyFileSystem& f) { f.VanishMidRead(record.chunks[2].key); }, true,
       "Fail to get chunk of {" + record.chunks[2].key + "} from cache"},
      {"temporary file refused",
       [](FaultyFileSystem& f) { f.Fail(FaultyFileSystem::Op::kCreate, kTempPrefix, EACCES); }, false,
       "Fail to open a localfile {" + At("/target.bin") + "} error :13"},
      {"replacing refused", [](FaultyFileSystem& f) { f.Fail(FaultyFileSystem::Op::kRename, "target", EPERM); },
       false, "[CFileCache::MakeFile]: Fail to rename"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultyFileSystem faults;
    CFileCache faulty(&faults);
    faulty.SetRoot(root);
    faulty.SetCache(cacheFolder);
    CFileInfo version = record;  // descriptions only: reload the bytes
    ASSERT_EQ(faulty.LoadChunk("/source.bin", version), 1);
    if (c.fromCache) {
      for (const CChunkInfo& chunk : version.chunks) {
        if (auto buffer = version.TakeChunkBuffer(chunk.key)) faulty.CacheChunk(chunk.key, *buffer);
      }
    }
    WriteFile(At("/target.bin"), "old");
    c.inject(faults);

    EXPECT_EQ(faulty.MakeFile(version), 0);
    EXPECT_EQ(ReadFile(At("/target.bin")), "old");
    EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"source.bin", "target.bin"}));
    EXPECT_TRUE(log.Contains(c.logged));
    // Only a full disk is told to the user as such, naming the folder.
    std::string full;
    EXPECT_EQ(faulty.TakeNoSpaceFolder(full), std::string(c.name) == "disk full");
    EXPECT_EQ(full, std::string(c.name) == "disk full" ? root : "");
    EXPECT_FALSE(faulty.TakeNoSpaceFolder(full));  // taken once
  }
}

TEST_F(MakeFileTest, SizeOtherThanRecordedIsRefused) {
  CacheAllChunks();
  record.size += 1;
  EXPECT_EQ(cache.MakeFile(record), 0);
  EXPECT_TRUE(log.Contains("Fail to make file {" + At("/target.bin") + "} for Mismatched size 8988608 with 8988609, remove it!"));
  EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"source.bin"}));
}

TEST_F(MakeFileTest, OpenFailureIsShownToTheUser) {
  std::string shown;
  cache.SetErrorPrompt([&](const std::string& text) {
    shown = text;
    return 1;
  });
  CFileInfo nowhere = record;
  nowhere.path = "/no/such/folder/file.bin";
  EXPECT_EQ(cache.MakeFile(nowhere), 0);
  EXPECT_EQ(shown, std::strerror(ENOENT));
}

}  // namespace
