#include "store/Delta.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Util.h"
#include "store/FileInfo.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kFourMiB = 4194304;

Bytes RandomBytes(std::size_t count, uint32_t seed) {
  Bytes bytes(count);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

uint32_t U32At(const Bytes& bytes, std::size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void PutU32At(Bytes& bytes, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The previous version of a file as the upload sees it: chunks cut into
// block lists, stored under storage keys, and the signature built from them.
// Also serves the stored chunks to the decoder, counting the reads.
class OldVersion {
 public:
  OldVersion& Chunk(const std::string& storageKey, const Bytes& bytes) {
    std::string key, sums, hashes;
    int blocks = 0;
    EXPECT_TRUE(CUtil::Md5Hex(bytes.data(), bytes.size(), key));
    CUtil::BlockSignatureLists(bytes.data(), bytes.size(), sums, hashes, blocks);
    file_.AddChunk(key, static_cast<int32_t>(bytes.size()), sums, hashes, blocks);
    file_.chunks.back().storageId = storageKey;
    file_.size += static_cast<int64_t>(bytes.size());
    stored_[storageKey] = bytes;
    built_ = false;
    return *this;
  }

  const SignatureHeader& Signature() {
    if (!built_) {
      EXPECT_EQ(file_.BuildSignature(), 1);
      built_ = true;
    }
    return file_.signature;
  }

  OldChunkReader Reader() {
    return [this](const std::string& storageKey, Bytes& bytes) {
      ++reads_[storageKey];
      const auto found = stored_.find(storageKey);
      if (found == stored_.end()) return false;
      bytes = found->second;
      return true;
    };
  }

  const std::map<std::string, int>& reads() const { return reads_; }

 private:
  CFileInfo file_{"/old.bin"};
  std::map<std::string, Bytes> stored_;
  std::map<std::string, int> reads_;
  bool built_ = false;
};

// A record as read back from the encoded bytes, independently of the decoder.
struct Record {
  uint32_t type;
  uint32_t target;
  uint32_t count;
  int32_t oldOffset;
  std::string name;

  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << "{type " << r.type << " target " << r.target << " count " << r.count << " old " << r.oldOffset
             << " name '" << r.name << "'}";
}

constexpr uint32_t kLiteral = 0;
constexpr uint32_t kCopy = 1;

Record Literal(uint32_t target, uint32_t count) { return {kLiteral, target, count, -1, ""}; }
Record Copy(uint32_t target, uint32_t count, int32_t oldOffset, const std::string& name) {
  return {kCopy, target, count, oldOffset, name};
}

std::vector<Record> RecordsOf(const Bytes& encoded) {
  std::vector<Record> records;
  std::size_t at = kDeltaHeaderSize;
  while (at + kDeltaRecordSize <= encoded.size()) {
    if (U32At(encoded, at + 4) < kDeltaRecordSize) break;
    Record r;
    r.type = U32At(encoded, at + 8);
    r.target = U32At(encoded, at + 12);
    r.count = U32At(encoded, at + 16);
    r.oldOffset = static_cast<int32_t>(U32At(encoded, at + 20));
    r.name = reinterpret_cast<const char*>(&encoded[at + 24]);  // zero-filled for literals
    records.push_back(r);
    at += U32At(encoded, at + 4);
  }
  return records;
}

Bytes Encode(const SignatureHeader& signature, const Bytes& chunk) {
  Bytes encoded;
  EXPECT_TRUE(EncodeDelta(signature, chunk.data(), static_cast<uint32_t>(chunk.size()), encoded));
  return encoded;
}

// Encodes `chunk` against `old`, decodes it back and checks the result.
Bytes RoundTrip(OldVersion& old, const Bytes& chunk) {
  const Bytes encoded = Encode(old.Signature(), chunk);
  Bytes decoded;
  std::string error;
  EXPECT_TRUE(DecodeDelta(encoded.data(), encoded.size(), old.Reader(), decoded, error)) << error;
  EXPECT_TRUE(decoded == chunk) << "decoded chunk differs from the original";
  return encoded;
}

// ---- the encoded form of known cases ----

TEST(DeltaEncode, IdenticalFourMiBChunkIsOneCopyWithExactBytes) {
  const Bytes chunk = RandomBytes(kFourMiB, 1);
  OldVersion old;
  old.Chunk("K", chunk);
  const Bytes encoded = RoundTrip(old, chunk);

  ASSERT_EQ(encoded.size(), 16u + 108u);
  const Bytes header = {124, 0, 0, 0, 0x00, 0x00, 0x40, 0x00, 1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Slice(encoded, 0, 16), header);
  const Bytes recordStart = {0x43, 0x4E, 0x59, 0x53, 108, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                             0x00, 0x00, 0x40, 0x00, 0, 0, 0, 0, 'K', 0};
  EXPECT_EQ(Slice(encoded, 16, recordStart.size()), recordStart);
  EXPECT_EQ(Slice(encoded, 16 + 26, 78), Bytes(78, 0)) << "name padding";
  EXPECT_EQ(U32At(encoded, 16 + 104), 0u) << "no sender address on the wire";
}

TEST(DeltaEncode, KnownChunksGiveTheseRecords) {
  const Bytes oldK = RandomBytes(3 * 4096 + 500, 2);  // more than two blocks
  const Bytes fresh = RandomBytes(20000, 3);
  const Bytes exact = RandomBytes(3 * 4096, 4);       // size a multiple of 4096
  const Bytes shortTail = RandomBytes(10000, 5);      // blocks 4096, 4096, 1808
  const Bytes blockA = RandomBytes(4096, 6);
  const Bytes repeated = Join({RandomBytes(4096, 7), blockA, RandomBytes(4096, 8), blockA});
  const Bytes zeros(kFourMiB, 0);
  std::vector<Record> eachBlockFromTheLast;
  for (uint32_t target = 0; target < kFourMiB; target += 4096)
    eachBlockFromTheLast.push_back(Copy(target, 4096, kFourMiB - 4096, "Z"));
  const struct {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> oldChunks;
    Bytes chunk;
    std::vector<Record> expected;
  } cases[] = {
      {"ten new bytes then the first two blocks",
       {{"K", oldK}},
       Join({Slice(fresh, 0, 10), Slice(oldK, 0, 8192)}),
       {Literal(0, 10), Copy(10, 8192, 0, "K")}},
      {"nothing shared",
       {{"K", oldK}},
       Slice(fresh, 0, 9000),
       {Literal(0, 9000)}},
      {"empty signature",
       {},
       Slice(fresh, 0, 5000),
       {Literal(0, 5000)}},
      {"ends with the last block of an old version sized a multiple of 4096",
       {{"E", exact}},
       Join({Slice(fresh, 0, 100), Slice(exact, 8192, 4096)}),
       {Literal(0, 100), Copy(100, 4096, 8192, "E")}},
      {"ends with the short last block, matched by the shrinking window",
       {{"S", shortTail}},
       Join({Slice(fresh, 0, 777), Slice(shortTail, 8192, 1808)}),
       {Literal(0, 777), Copy(777, 1808, 8192, "S")}},
      {"whole old file of three chunks: one copy per chunk",
       {{"K1", Slice(oldK, 0, 3 * 4096)}, {"K2", Slice(fresh, 0, 8192)}, {"K3", Slice(exact, 0, 4096 + 50)}},
       Join({Slice(oldK, 0, 3 * 4096), Slice(fresh, 0, 8192), Slice(exact, 0, 4096 + 50)}),
       {Copy(0, 12288, 0, "K1"), Copy(12288, 8192, 0, "K2"), Copy(20480, 4146, 0, "K3")}},
      // Equal blocks sit in several places of the old version; the block
      // following the run is taken so that the run goes on.
      {"a repeated block keeps the run going",
       {{"R", repeated}},
       Slice(repeated, 0, 3 * 4096),
       {Copy(0, 3 * 4096, 0, "R")}},
      // Every block is a candidate and the chain starts at the highest index:
      // the old chunk's last block, one copy per block.
      {"all-zero chunk against an all-zero old version", {{"Z", zeros}}, zeros, eachBlockFromTheLast},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OldVersion old;
    for (const auto& [key, bytes] : c.oldChunks) old.Chunk(key, bytes);
    const Bytes encoded = RoundTrip(old, c.chunk);
    EXPECT_EQ(RecordsOf(encoded), c.expected);
    EXPECT_EQ(U32At(encoded, 0), encoded.size());
    EXPECT_EQ(U32At(encoded, 4), c.chunk.size());
    EXPECT_EQ(U32At(encoded, 8), c.expected.size());
  }
}

TEST(DeltaEncode, LiteralRecordCarriesItsBytesAndNoStrayMemory) {
  const Bytes chunk = RandomBytes(300, 6);
  OldVersion old;
  old.Chunk("K", RandomBytes(5000, 7));
  const Bytes encoded = Encode(old.Signature(), chunk);
  ASSERT_EQ(encoded.size(), 16u + 108u + 300u);
  EXPECT_EQ(U32At(encoded, 16 + 4), 108u + 300u);
  EXPECT_EQ(U32At(encoded, 16 + 20), 0xFFFFFFFFu) << "literal old offset -1";
  EXPECT_EQ(Slice(encoded, 16 + 24, 84), Bytes(84, 0)) << "zero name and address";
  EXPECT_EQ(Slice(encoded, 16 + 108, 300), chunk);
}

TEST(DeltaEncode, RefusesEmptyAndOversizedChunks) {
  const Bytes big(kFourMiB + 1, 0x5A);
  SignatureHeader none;
  for (const uint32_t length : {0u, kFourMiB + 1}) {
    Bytes encoded = {9, 9};
    EXPECT_FALSE(EncodeDelta(none, big.data(), length, encoded)) << length;
    EXPECT_EQ(encoded, (Bytes{9, 9})) << "left untouched";
  }
}

// ---- round trips on edited data ----

TEST(DeltaRoundTrip, EditsOfAFourMiBChunk) {
  const Bytes base = RandomBytes(kFourMiB, 10);
  const Bytes extra = RandomBytes(9000, 11);
  Bytes oneByte = base;
  oneByte[kFourMiB / 2] ^= 0x40;
  const struct {
    const char* name;
    Bytes chunk;
    std::size_t maxEncoded;  // 0: only the round trip is checked
  } cases[] = {
      {"1-byte change in the middle", oneByte, 8192},
      {"insertion inside a block", Join({Slice(base, 0, 100000), Slice(extra, 0, 333), Slice(base, 100000, 1000000)}),
       8192},
      {"insertion at a block boundary", Join({Slice(base, 0, 40960), Slice(extra, 0, 1), Slice(base, 40960, 40960)}),
       1024},
      {"deletion of one whole block", Join({Slice(base, 0, 8192), Slice(base, 12288, 98304)}), 1024},
      {"deletion of a few bytes", Join({Slice(base, 0, 5000), Slice(base, 5007, 2000000)}), 8192},
      {"the old chunk's end followed by new bytes",
       Join({Slice(base, kFourMiB - 12 * 4096, 12 * 4096), Slice(extra, 0, 9000)}), 9000 + 1024},
      {"prepend shifts everything", Join({Slice(extra, 0, 4095), Slice(base, 0, kFourMiB - 4095)}), 4095 + 1024},
      {"shift by one byte", Join({Slice(extra, 0, 1), Slice(base, 0, kFourMiB - 1)}), 4096 + 1024},
      {"blocks reordered", Join({Slice(base, 409600, 8192), Slice(base, 0, 8192), Slice(base, 12288, 4096)}), 1024},
      {"unrelated data", Slice(extra, 0, 9000), 0},
      {"short chunk inside one block", Slice(base, 100, 1000), 0},
  };
  OldVersion old;
  old.Chunk("K", base);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes encoded = RoundTrip(old, c.chunk);
    if (c.maxEncoded) {
      EXPECT_LE(encoded.size(), c.maxEncoded);
    }
  }
}

TEST(DeltaRoundTrip, SeveralOldChunksNeverShareARun) {
  // A file of three chunks, the last two identical (same storage key), as
  // happens with long runs of equal bytes: a run must stop at the chunk's
  // end even though the next record carries the same name.
  const Bytes m = RandomBytes(4096, 20);
  const Bytes k = RandomBytes(8192, 21);
  OldVersion old;
  old.Chunk("M", m).Chunk("K", k).Chunk("K", k);
  const Bytes chunk = Join({m, k, k});
  const Bytes encoded = RoundTrip(old, chunk);
  EXPECT_EQ(RecordsOf(encoded),
            (std::vector<Record>{Copy(0, 4096, 0, "M"), Copy(4096, 8192, 0, "K"), Copy(12288, 8192, 0, "K")}));
}

TEST(DeltaRoundTrip, TailOfOneOldChunkAndHeadOfTheNext) {
  const Bytes a = RandomBytes(kFourMiB, 30);
  const Bytes b = RandomBytes(kFourMiB, 31);
  OldVersion old;
  old.Chunk("A", a).Chunk("B", b);
  const Bytes chunk = Join({Slice(a, kFourMiB - 3 * 4096, 3 * 4096), Slice(b, 0, 5 * 4096)});
  const Bytes encoded = RoundTrip(old, chunk);
  EXPECT_EQ(RecordsOf(encoded),
            (std::vector<Record>{Copy(0, 12288, kFourMiB - 12288, "A"), Copy(12288, 20480, 0, "B")}));
}

// One new byte before each old block: every block is a copy of its own and
// every byte a literal, about 2000 records. The output area grows with them.
TEST(DeltaRoundTrip, OneLiteralByteBeforeEachBlock) {
  const Bytes base = RandomBytes(kFourMiB, 40);
  Bytes chunk;
  chunk.reserve(kFourMiB);
  for (std::size_t offset = 0; chunk.size() + 4097 <= kFourMiB; offset += 4096) {
    chunk.push_back(static_cast<unsigned char>(offset / 4096));
    chunk.insert(chunk.end(), base.begin() + static_cast<std::ptrdiff_t>(offset),
                 base.begin() + static_cast<std::ptrdiff_t>(offset + 4096));
  }
  const std::size_t pairs = chunk.size() / 4097;
  const Bytes tail = RandomBytes(kFourMiB - chunk.size(), 41);
  chunk.insert(chunk.end(), tail.begin(), tail.end());

  OldVersion old;
  old.Chunk("K", base);
  const Bytes encoded = RoundTrip(old, chunk);
  const std::vector<Record> records = RecordsOf(encoded);
  ASSERT_EQ(records.size(), 2 * pairs + 1);
  EXPECT_EQ(records[1], Copy(1, 4096, 0, "K"));
  EXPECT_EQ(records[3], Copy(4098, 4096, 4096, "K")) << "a literal between two blocks ends the run";
  EXPECT_EQ(old.reads().at("K"), 1) << "each old chunk read once per decode";
}

TEST(DeltaRoundTrip, EncodingsInSeveralThreadsAgreeWithOneAtATime) {
  const Bytes base = RandomBytes(1 << 20, 50);
  OldVersion old;
  old.Chunk("K", base);
  const SignatureHeader& signature = old.Signature();
  std::vector<Bytes> chunks;
  for (uint32_t i = 0; i < 4; ++i)
    chunks.push_back(Join({RandomBytes(100 + i, 60 + i), Slice(base, 4096 * i + i, 300000)}));
  std::vector<Bytes> alone(chunks.size()), together(chunks.size());
  for (std::size_t i = 0; i < chunks.size(); ++i) alone[i] = Encode(signature, chunks[i]);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < chunks.size(); ++i)
    threads.emplace_back([&, i] { together[i] = Encode(signature, chunks[i]); });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(together, alone);
}

// ---- decoding malformed input ----

// The encoding of 10 new bytes and two blocks of K: a literal record at 16,
// a copy record at 16 + 118.
class DeltaDecode : public testing::Test {
 protected:
  void SetUp() override {
    oldK_ = RandomBytes(3 * 4096 + 500, 70);
    old_.Chunk("K", oldK_);
    chunk_ = Join({RandomBytes(10, 71), Slice(oldK_, 0, 8192)});
    valid_ = Encode(old_.Signature(), chunk_);
    ASSERT_EQ(RecordsOf(valid_), (std::vector<Record>{Literal(0, 10), Copy(10, 8192, 0, "K")}));
  }

  bool Decode(const Bytes& encoded, std::string& error) {
    Bytes exact(encoded);  // exactly sized, so an over-read is caught
    Bytes chunk;
    return DecodeDelta(exact.data(), exact.size(), old_.Reader(), chunk, error);
  }

  static constexpr std::size_t kLit = 16;
  static constexpr std::size_t kCpy = 16 + 118;
  Bytes oldK_;
  OldVersion old_;
  Bytes chunk_;
  Bytes valid_;
};

TEST_F(DeltaDecode, RefusesEachMalformedField) {
  using Edit = std::function<void(Bytes&)>;
  auto set = [](std::size_t at, uint32_t value) -> Edit { return [=](Bytes& b) { PutU32At(b, at, value); }; };
  auto name = [](const std::string& text) -> Edit {
    return [=](Bytes& b) {
      std::fill(b.begin() + kCpy + 24, b.begin() + kCpy + 104, 0);
      std::memcpy(&b[kCpy + 24], text.data(), std::min<std::size_t>(text.size(), 80));
    };
  };
  const uint32_t oldSize = 3 * 4096 + 500;
  const struct {
    const char* why;
    Edit edit;
    const char* error;
  } cases[] = {
      {"total too large", set(0, 16 + 118 + 108 + 1), "header total"},
      {"total too small", set(0, 16 + 118 + 108 - 1), "header total"},
      {"chunk length 0", set(4, 0), "chunk length"},
      {"chunk length above 4 MiB", set(4, kFourMiB + 1), "chunk length"},
      {"chunk length longer than the records", set(4, 8203), "cover"},
      {"record count too high", set(8, 3), "fewer records"},
      {"record count too low", set(8, 1), "trailing bytes"},
      {"bad magic", set(kCpy, 0x53594E44), "magic"},
      {"type 2", set(kCpy + 8, 2), "type"},
      {"record length below 108", set(kLit + 4, 107), "record length"},
      {"copy length not 108", set(kCpy + 4, 109), "copy record length"},
      {"literal length not 108 + count", set(kLit + 4, 108 + 11), "literal record length"},
      {"literal past the data",
       [](Bytes& b) {
         PutU32At(b, kLit + 4, 108 + 5000);
         PutU32At(b, kLit + 16, 5000);
       },
       "past the encoded data"},
      {"zero byte count", set(kCpy + 16, 0), "no bytes"},
      {"overlap", set(kCpy + 12, 9), "overlap or leave a gap"},
      {"gap", set(kCpy + 12, 11), "overlap or leave a gap"},
      {"past the chunk length", set(kCpy + 16, 8193), "past the chunk length"},
      {"negative old offset", set(kCpy + 20, 0xFFFFFFFF), "negative old offset"},
      {"name not terminated", name(std::string(80, 'K')), "not terminated"},
      {"unknown old chunk", name("nope"), "unknown old chunk"},
      {"copy past the old chunk's end", set(kCpy + 20, oldSize - 8191), "end of the old chunk"},
      {"trailing byte",
       [](Bytes& b) {
         b.push_back(0);
         PutU32At(b, 0, static_cast<uint32_t>(b.size()));
       },
       "trailing bytes"},
  };
  std::string error;
  ASSERT_TRUE(Decode(valid_, error)) << error;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Bytes bad = valid_;
    c.edit(bad);
    error.clear();
    EXPECT_FALSE(Decode(bad, error));
    EXPECT_NE(error.find(c.error), std::string::npos) << "error: " << error;
  }
}

TEST_F(DeltaDecode, CopyEndingExactlyAtTheOldChunksEndIsAccepted) {
  const uint32_t oldSize = 3 * 4096 + 500;
  Bytes edge = valid_;
  PutU32At(edge, kCpy + 20, oldSize - 8192);
  Bytes chunk;
  std::string error;
  ASSERT_TRUE(DecodeDelta(edge.data(), edge.size(), old_.Reader(), chunk, error)) << error;
  EXPECT_EQ(Slice(chunk, 10, 8192), Slice(oldK_, oldSize - 8192, 8192));
}

TEST_F(DeltaDecode, RefusesEveryTruncation) {
  std::string error;
  for (std::size_t length = 0; length < valid_.size(); ++length) {
    SCOPED_TRACE(length);
    Bytes cut = Slice(valid_, 0, length);
    EXPECT_FALSE(Decode(cut, error));
    // With the header made to agree, the records themselves must be refused.
    if (length >= kDeltaHeaderSize) {
      PutU32At(cut, 0, static_cast<uint32_t>(length));
      EXPECT_FALSE(Decode(cut, error));
    }
  }
  Bytes chunk;
  EXPECT_FALSE(DecodeDelta(nullptr, 0, old_.Reader(), chunk, error));
}

}  // namespace
