#include "store/FileInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/Util.h"
#include "store/ChunkBuffer.h"

namespace {

const std::string kKey1 = "0123456789abcdef0123456789abcdef";
const std::string kKey2 = "FEDCBA9876543210FEDCBA9876543210";
const std::string kKey3 = "00000000000000000000000000000003";

std::vector<std::string> KeysOf(const CFileInfo& file) {
  std::vector<std::string> keys;
  for (const CChunkInfo& chunk : file.chunks) keys.push_back(chunk.key);
  return keys;
}

std::unique_ptr<CChunkBuffer> BufferOf(uint32_t capacity) { return std::make_unique<CChunkBuffer>(capacity); }

// ---- chunk lists ----

TEST(FileInfoChunkList, Parse) {
  const struct {
    const char* why;
    std::string list;
    int32_t chunkCount;
    int result;
    std::vector<std::string> keys;
  } cases[] = {
      {"one key, no comma", kKey1, 0, 1, {kKey1}},
      {"two keys", kKey1 + "," + kKey2, 0, 1, {kKey1, kKey2}},
      {"trailing comma", kKey1 + "," + kKey2 + ",", 0, 1, {kKey1, kKey2}},
      {"empty list", "", 0, 1, {}},
      {"count agrees", kKey1 + "," + kKey2, 2, 1, {kKey1, kKey2}},
      {"count disagrees", kKey1 + "," + kKey2, 3, 0, {}},
      {"leading comma", "," + kKey1, 0, 0, {}},
      {"doubled comma", kKey1 + ",," + kKey2, 0, 0, {}},
      {"31 digits", kKey1.substr(1), 0, 0, {}},
      {"33 digits", kKey1 + "0", 0, 0, {}},
      {"not hex", kKey1.substr(1) + "g", 0, 0, {}},
      {"short last entry", kKey1 + ",abc", 0, 0, {}},
      {"bad first entry, good second", "abc," + kKey2, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    CFileInfo file("/f");
    file.AddChunk(kKey3, 1, "", "", 1);  // replaced by the parse, kept by nothing
    file.chunkList = c.list;
    file.chunkCount = c.chunkCount;
    EXPECT_EQ(file.ParseChunkList(), c.result);
    EXPECT_EQ(KeysOf(file), c.keys);
  }
}

TEST(FileInfoChunkList, BuildAndCount) {
  CFileInfo two("/f");
  two.AddChunk(kKey1, 10, "", "", 1);
  two.AddChunk(kKey2, 10, "", "", 1);
  EXPECT_EQ(two.BuildChunkList(), 1);
  EXPECT_EQ(two.chunkList, kKey1 + "," + kKey2);
  EXPECT_EQ(two.chunkCount, 2);

  CFileInfo none("/f");
  none.chunkList = "left as it was";
  none.chunkCount = 4;
  EXPECT_EQ(none.BuildChunkList(), 1);
  EXPECT_EQ(none.chunkCount, 0);
  EXPECT_EQ(none.chunkList, "left as it was");

  const struct {
    int32_t stored;
    std::string list;
    int expected;
  } counts[] = {
      {0, "", 0},
      {0, kKey1, 1},
      {0, kKey1 + "," + kKey2, 2},
      {0, kKey1 + "," + kKey2 + ",", 2},
      {0, kKey1 + ",abc", 1},  // a last rest that is no key does not count
      {5, kKey1, 5},           // a stored count wins
  };
  for (const auto& c : counts) {
    SCOPED_TRACE(c.list);
    CFileInfo file("/f");
    file.chunkCount = c.stored;
    file.chunkList = c.list;
    EXPECT_EQ(file.GetChunkCount(), c.expected);
    EXPECT_EQ(file.chunkCount, c.expected) << "the count is stored";
  }
}

TEST(FileInfoChunkList, AddChunkRefusesAnEmptyKey) {
  CFileInfo file("/f");
  EXPECT_FALSE(file.AddChunk("", 10, "1,", "A,", 1));
  EXPECT_TRUE(file.chunks.empty());
  ASSERT_TRUE(file.AddChunk(kKey1, 10, "1,", "A,", 1));
  const CChunkInfo& chunk = file.chunks.at(0);
  EXPECT_EQ(chunk.key, kKey1);
  EXPECT_EQ(chunk.size, 10);
  EXPECT_EQ(chunk.blockSum, "1,");
  EXPECT_EQ(chunk.blockHash, "A,");
  EXPECT_EQ(chunk.blockCount, 1);
  EXPECT_TRUE(chunk.storageId.empty());
}

// ---- comparisons ----

CFileInfo FileOf(int64_t size, int64_t mtime, const std::string& chunkList) {
  CFileInfo file("/f", 0, size);
  file.mtime = mtime;
  file.chunkList = chunkList;
  return file;
}

CFileInfo FolderOf(int32_t dir) { return CFileInfo("/d", dir, 0); }

TEST(FileInfoCompare, IsSameAndIsSameContent) {
  const struct {
    const char* why;
    CFileInfo a;
    CFileInfo b;
    int same;
    int sameContent;
  } cases[] = {
      {"two folders", FolderOf(1), FolderOf(1), 1, 1},
      {"folder and shared folder", FolderOf(1), FolderOf(7), 0, 0},
      {"same shared folder", FolderOf(7), FolderOf(7), 1, 1},
      {"folder and file", FolderOf(1), FileOf(10, 5, kKey1), 0, 0},
      {"different sizes", FileOf(10, 5, kKey1), FileOf(11, 5, kKey1), 0, 0},
      {"times differ, lists differ", FileOf(10, 5, kKey1), FileOf(10, 6, kKey2), 0, 0},
      {"times differ, lists agree", FileOf(10, 5, kKey1), FileOf(10, 6, kKey1), 1, 1},
      {"equal times, lists differ", FileOf(10, 5, kKey1), FileOf(10, 5, kKey2), 1, 0},
      {"one time 0, lists differ", FileOf(10, 0, kKey1), FileOf(10, 6, kKey2), 1, 0},
      {"one time negative, lists differ", FileOf(10, -3, kKey1), FileOf(10, 6, kKey2), 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(c.a.IsSame(c.b), c.same);
    EXPECT_EQ(c.b.IsSame(c.a), c.same);
    EXPECT_EQ(c.a.IsSameContent(c.b), c.sameContent);
    EXPECT_EQ(c.b.IsSameContent(c.a), c.sameContent);
  }
}

// ---- signatures ----

std::vector<unsigned char> RandomBytes(std::size_t count, uint32_t seed) {
  std::vector<unsigned char> bytes(count);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

// A file of one chunk cut from `bytes` as the chunker does, with its storage key.
CFileInfo CutFile(const std::vector<unsigned char>& bytes, const std::string& storageId) {
  std::string key, sums, hashes;
  int blocks = 0;
  CUtil::Md5Hex(bytes.data(), bytes.size(), key);
  CUtil::BlockSignatureLists(bytes.data(), bytes.size(), sums, hashes, blocks);
  CFileInfo file("/f", 0, static_cast<int64_t>(bytes.size()));
  file.AddChunk(key, static_cast<int32_t>(bytes.size()), sums, hashes, blocks);
  file.chunks.back().storageId = storageId;
  return file;
}

TEST(FileInfoSignature, TenThousandBytesInOneChunk) {
  const auto bytes = RandomBytes(10000, 1);
  CFileInfo file = CutFile(bytes, "store/0001");
  ASSERT_EQ(file.BuildSignature(), 1);
  const SignatureHeader& s = file.signature;
  EXPECT_EQ(s.total, 10000);
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(s.blockSize, 4096);
  EXPECT_EQ(s.tail, 1808);
  EXPECT_EQ(s.strongLength, 16);
  ASSERT_EQ(s.records.size(), 3u);
  const int32_t offsets[] = {0, 4096, 8192};
  const int32_t lengths[] = {4096, 4096, 1808};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const BlockRecord& r = s.records[i];
    EXPECT_EQ(r.offset, offsets[i]);
    EXPECT_EQ(r.length, lengths[i]);
    EXPECT_STREQ(r.name, "store/0001");
    EXPECT_EQ(r.weakSum, ComputeWeakSum(bytes.data() + offsets[i], lengths[i]).Value());
    unsigned char md5[16];
    Md5Digest(bytes.data() + offsets[i], lengths[i], md5);
    EXPECT_EQ(std::memcmp(r.strongSum, md5, 16), 0);
    EXPECT_EQ(r.next, -1);
    EXPECT_EQ(r.matchFlag, 0);
  }
}

TEST(FileInfoSignature, RefusesListsThatDoNotDescribeTheFile) {
  const auto bytes = RandomBytes(10000, 2);
  using Edit = void (*)(CFileInfo&);
  const struct {
    const char* why;
    Edit edit;
  } cases[] = {
      {"size beyond the chunks", [](CFileInfo& f) { f.size += 4096; }},
      {"sum list one block short", [](CFileInfo& f) {
         std::string& sums = f.chunks[0].blockSum;
         sums.erase(sums.find(',') + 1);
       }},
      {"hash list one block short", [](CFileInfo& f) {
         std::string& hashes = f.chunks[0].blockHash;
         hashes.erase(hashes.find(',') + 1);
       }},
      {"hash of 31 digits", [](CFileInfo& f) { f.chunks[0].blockHash.erase(0, 1); }},
      {"hash not hex", [](CFileInfo& f) { f.chunks[0].blockHash[0] = 'Z'; }},
      {"weak sum not a number", [](CFileInfo& f) { f.chunks[0].blockSum.insert(0, "x"); }},
      {"no storage key", [](CFileInfo& f) { f.chunks[0].storageId.clear(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    CFileInfo file = CutFile(bytes, "store/0002");
    ASSERT_EQ(file.BuildSignature(), 1);  // a signature from before must go
    c.edit(file);
    EXPECT_EQ(file.BuildSignature(), 0);
    EXPECT_TRUE(file.signature.records.empty());
    EXPECT_EQ(file.signature.count, 0);
  }
}

// ---- ownership of buffers and signature ----

CFileInfo Described() {
  CFileInfo file("/a/b.txt", 0, 123);
  file.timeAdjusted = 1;
  file.mark = 2;
  file.mtime = 456;
  file.createTime = 7;
  file.writeTime = 8;
  file.accessTime = 9;
  file.chunkCount = 1;
  file.chunkList = kKey1;
  file.owner = "alice";
  file.AddChunk(kKey1, 123, "1,", "A,", 1);
  return file;
}

void ExpectSameDescription(const CFileInfo& a, const CFileInfo& b) {
  EXPECT_EQ(a.path, b.path);
  EXPECT_EQ(a.timeAdjusted, b.timeAdjusted);
  EXPECT_EQ(a.mark, b.mark);
  EXPECT_EQ(a.dir, b.dir);
  EXPECT_EQ(a.size, b.size);
  EXPECT_EQ(a.mtime, b.mtime);
  EXPECT_EQ(a.createTime, b.createTime);
  EXPECT_EQ(a.writeTime, b.writeTime);
  EXPECT_EQ(a.accessTime, b.accessTime);
  EXPECT_EQ(a.chunkCount, b.chunkCount);
  EXPECT_EQ(a.chunkList, b.chunkList);
  EXPECT_EQ(a.owner, b.owner);
  EXPECT_EQ(KeysOf(a), KeysOf(b));
}

TEST(FileInfoOwnership, CopiesCarryTheDescriptionOnly) {
  CFileInfo source = Described();
  source.AddChunkBuffer(kKey1, BufferOf(16));
  source.signature.records.resize(1);
  source.signature.count = 1;

  const CFileInfo copied(source);
  ExpectSameDescription(copied, source);
  EXPECT_FALSE(copied.HasChunkBuffer(kKey1));
  EXPECT_TRUE(copied.signature.records.empty());

  CFileInfo target("/other");
  target.AddChunkBuffer(kKey2, BufferOf(16));
  target.signature.records.resize(2);
  target = source;
  ExpectSameDescription(target, source);
  EXPECT_FALSE(target.HasChunkBuffer(kKey2)) << "the target's own buffers are released";
  EXPECT_FALSE(target.HasChunkBuffer(kKey1)) << "no buffer is shared";
  EXPECT_TRUE(target.signature.records.empty());
  EXPECT_TRUE(source.HasChunkBuffer(kKey1)) << "the source keeps its buffer";
  EXPECT_EQ(source.signature.records.size(), 1u);
}

TEST(FileInfoOwnership, TakeAndAddChunkBuffers) {
  CFileInfo file("/f");
  EXPECT_EQ(file.TakeChunkBuffer(kKey1), nullptr) << "unknown key";

  file.AddChunkBuffer(kKey1, BufferOf(10));
  file.AddChunkBuffer(kKey1, BufferOf(20));  // the first one stays
  EXPECT_TRUE(file.HasChunkBuffer(kKey1));
  auto taken = file.TakeChunkBuffer(kKey1);
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->capacity(), 10u);
  EXPECT_EQ(file.TakeChunkBuffer(kKey1), nullptr) << "taken once only";
  EXPECT_FALSE(file.HasChunkBuffer(kKey1));

  file.AddChunkBuffer(kKey2, BufferOf(30));
  file.ClearChunkBuffers();
  EXPECT_EQ(file.TakeChunkBuffer(kKey2), nullptr);
}

// A chunk that occurs twice in a file is loaded again after its buffer was
// taken; the new buffer must not be dropped for the emptied entry.
TEST(FileInfoOwnership, AddAfterTakeStoresTheNewBuffer) {
  CFileInfo file("/f");
  file.AddChunkBuffer(kKey1, BufferOf(10));
  ASSERT_NE(file.TakeChunkBuffer(kKey1), nullptr);
  file.AddChunkBuffer(kKey1, BufferOf(20));
  auto again = file.TakeChunkBuffer(kKey1);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->capacity(), 20u);
}

TEST(FileInfoOwnership, ResetAndClearChunks) {
  CFileInfo file = Described();
  file.dir = 3;
  file.AddChunkBuffer(kKey1, BufferOf(16));
  file.signature.records.resize(1);

  file.ClearChunks();
  EXPECT_EQ(file.chunkCount, 0);
  EXPECT_TRUE(file.chunkList.empty());
  EXPECT_TRUE(file.chunks.empty());
  EXPECT_TRUE(file.HasChunkBuffer(kKey1)) << "buffers untouched";

  file.Reset();
  EXPECT_TRUE(file.path.empty());
  EXPECT_EQ(file.dir, 0);
  EXPECT_EQ(file.size, 0);
  EXPECT_EQ(file.mtime, 0);
  EXPECT_EQ(file.mark, 0);
  EXPECT_EQ(file.timeAdjusted, 0);
  EXPECT_FALSE(file.HasChunkBuffer(kKey1));
  EXPECT_TRUE(file.signature.records.empty());
  EXPECT_EQ(file.createTime, 7u) << "FILETIMEs kept";
  EXPECT_EQ(file.writeTime, 8u);
  EXPECT_EQ(file.accessTime, 9u);
  EXPECT_EQ(file.owner, "alice") << "owner kept";
}

TEST(FileInfoOwnership, InfoAttrMapKeepsTheFirstRecordOfAnId) {
  CInfoAttrMap messages;
  messages.emplace(4, CInfoAttr{4, 1, 100, 200, "first"});
  messages.emplace(4, CInfoAttr{4, 2, 300, 400, "second"});
  messages.emplace(2, CInfoAttr{2, 1, 100, 200, "earlier id"});
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.at(4).info, "first");
  EXPECT_EQ(messages.begin()->first, 2) << "ordered by id";
}

// ---- chunk buffers ----

TEST(ChunkBuffer, SizeLimits) {
  const struct {
    uint32_t requested;
    uint32_t capacity;
  } constructed[] = {{0, 0}, {4096, 4096}, {kChunkBufferLimit, kChunkBufferLimit}, {kChunkBufferLimit + 1, 0}};
  for (const auto& c : constructed) {
    SCOPED_TRACE(c.requested);
    CChunkBuffer buffer(c.requested);
    EXPECT_EQ(buffer.capacity(), c.capacity);
    EXPECT_EQ(buffer.length(), 0u);
    if (c.capacity) buffer.data()[c.capacity + 3] = 1;  // 4 bytes of slack, seen by ASan
  }

  CChunkBuffer buffer(100);
  ASSERT_TRUE(buffer.SetLength(100));
  EXPECT_FALSE(buffer.SetLength(101));
  EXPECT_EQ(buffer.length(), 100u);

  EXPECT_FALSE(buffer.Resize(kChunkSize + 1));
  EXPECT_EQ(buffer.capacity(), 100u) << "nothing changed";
  EXPECT_EQ(buffer.length(), 100u);
  ASSERT_TRUE(buffer.Resize(kChunkSize));
  EXPECT_EQ(buffer.capacity(), kChunkSize);
  EXPECT_EQ(buffer.length(), 0u);
  buffer.data()[kChunkSize + 3] = 1;
}

TEST(ChunkBuffer, AdoptTakesOverTheBytes) {
  CChunkBuffer buffer(8);
  ASSERT_TRUE(buffer.SetLength(8));
  EXPECT_FALSE(buffer.Adopt({}));
  EXPECT_EQ(buffer.capacity(), 8u) << "nothing changed";
  EXPECT_EQ(buffer.length(), 8u);

  ASSERT_TRUE(buffer.Adopt({1, 2, 3}));
  EXPECT_EQ(buffer.capacity(), 3u);
  EXPECT_EQ(buffer.length(), 3u);
  EXPECT_EQ(std::vector<unsigned char>(buffer.data(), buffer.data() + 3), (std::vector<unsigned char>{1, 2, 3}));
}

}  // namespace
