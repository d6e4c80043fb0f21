#include "store/Delta.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "foundation/Digest.h"
#include "foundation/Logger.h"

namespace {

constexpr uint32_t kTypeLiteral = 0;
constexpr uint32_t kTypeCopy = 1;
constexpr std::size_t kNameSize = sizeof(BlockRecord::name);
constexpr int32_t kNone = -1;

// Field offsets inside a record.
constexpr std::size_t kFieldMagic = 0;
constexpr std::size_t kFieldLength = 4;
constexpr std::size_t kFieldType = 8;
constexpr std::size_t kFieldTarget = 12;
constexpr std::size_t kFieldCount = 16;
constexpr std::size_t kFieldOldOffset = 20;
constexpr std::size_t kFieldName = 24;

void PutU32(unsigned char* at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
  at[2] = static_cast<unsigned char>(value >> 16);
  at[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t GetU32(const unsigned char* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
         static_cast<uint32_t>(at[3]) << 24;
}

// A byte as the signed 8-bit value the weak checksum is defined on, carried
// in uint32_t so that the rolling sums wrap instead of overflowing.
inline uint32_t SignedByte(unsigned char byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

// A record a copy can point at: a NUL-terminated, non-empty old chunk name
// and a block that fits a window. Others could only yield copies that no
// decoder can resolve, so they never match.
bool IsUsable(const BlockRecord& record) {
  return record.name[0] != '\0' && std::memchr(record.name, '\0', kNameSize) != nullptr && record.offset >= 0 &&
         record.length > 0 && record.length <= static_cast<int32_t>(kBlockSize);
}

// The hash table over a signature's weak sums. The signature is shared and
// const, so the chains live here, one table per encoding.
class CBlockIndex {
 public:
  explicit CBlockIndex(const SignatureHeader& signature) {
    const std::size_t count = signature.records.size();
    slots_ = std::max<std::size_t>(count / 8 * 10 + 11, 65536);
    heads_.assign(slots_, kNone);
    entries_.resize(count);
    // In index order at the head of the chain: a chain runs from the highest
    // index to the lowest.
    for (std::size_t i = 0; i < count; ++i) {
      const BlockRecord& record = signature.records[i];
      Entry& entry = entries_[i];
      entry.weak = record.weakSum;
      entry.length = IsUsable(record) ? record.length : 0;  // length 0 never equals a window
      if (entry.length == 0) continue;
      int32_t& head = heads_[Slot(record.weakSum)];
      entry.next = head;
      head = static_cast<int32_t>(i);
    }
  }

  bool HasChain(uint32_t weak) const { return heads_[Slot(weak)] != kNone; }
  int32_t First(uint32_t weak) const { return heads_[Slot(weak)]; }
  int32_t Next(int32_t index) const { return entries_[index].next; }
  std::size_t size() const { return entries_.size(); }
  // Same weak sum and same length: worth an MD5.
  bool IsCandidate(int32_t index, uint32_t weak, uint32_t length) const {
    const Entry& entry = entries_[index];
    return entry.weak == weak && static_cast<uint32_t>(entry.length) == length;
  }

 private:
  struct Entry {
    uint32_t weak = 0;
    int32_t length = 0;
    int32_t next = kNone;
  };

  std::size_t Slot(uint32_t weak) const {
    if (slots_ == 65536) return ((weak & 0xFFFF) + (weak >> 16)) & 0xFFFF;
    return weak % slots_;
  }

  std::size_t slots_ = 0;
  std::vector<int32_t> heads_;
  std::vector<Entry> entries_;
};

// MD5 with one context reused for every window of an encoding; setting one
// up per window would cost about as much as hashing 4096 bytes.
class CWindowDigest {
 public:
  CWindowDigest() : context_(EVP_MD_CTX_new()) {}
  ~CWindowDigest() { EVP_MD_CTX_free(context_); }
  CWindowDigest(const CWindowDigest&) = delete;
  CWindowDigest& operator=(const CWindowDigest&) = delete;

  void Compute(const unsigned char* data, std::size_t length, unsigned char digest[16]) {
    unsigned int size = 0;
    if (context_ && EVP_DigestInit_ex(context_, EVP_md5(), nullptr) && EVP_DigestUpdate(context_, data, length) &&
        EVP_DigestFinal_ex(context_, digest, &size) && size == 16)
      return;
    Md5Digest(data, length, digest);
  }

 private:
  EVP_MD_CTX* context_;
};

// Appends the header and the records of an encoded chunk. The output grows
// as needed: a chunk alternating single new bytes with matched blocks needs
// far more record headers than any fixed area sized from the length allows.
class CDeltaWriter {
 public:
  CDeltaWriter(std::vector<unsigned char>& out, uint32_t chunkLength) : out_(out), chunkLength_(chunkLength) {
    out_.clear();
    // Enough for a chunk that turns out to be all literal.
    out_.reserve(kDeltaHeaderSize + 2 * kDeltaRecordSize + chunkLength);
    out_.resize(kDeltaHeaderSize, 0);
  }

  void Literal(const unsigned char* data, uint32_t target, uint32_t count) {
    unsigned char* record = AppendRecord(kTypeLiteral, kDeltaRecordSize + count, target, count);
    PutU32(record + kFieldOldOffset, static_cast<uint32_t>(-1));
    // The name stays zero-filled; the bytes follow the record header.
    out_.insert(out_.end(), data + target, data + target + count);
  }

  void Copy(uint32_t target, uint32_t count, const BlockRecord& first) {
    unsigned char* record = AppendRecord(kTypeCopy, kDeltaRecordSize, target, count);
    PutU32(record + kFieldOldOffset, static_cast<uint32_t>(first.offset));
    std::memcpy(record + kFieldName, first.name, kNameSize);
  }

  // Fills in the header. The sender's addresses stay 0: they mean nothing to
  // the receiver and would leak the layout of this process.
  void Finish() {
    PutU32(out_.data(), static_cast<uint32_t>(out_.size()));
    PutU32(out_.data() + 4, chunkLength_);
    PutU32(out_.data() + 8, records_);
  }

 private:
  unsigned char* AppendRecord(uint32_t type, uint32_t recordLength, uint32_t target, uint32_t count) {
    const std::size_t at = out_.size();
    out_.resize(at + kDeltaRecordSize, 0);
    unsigned char* record = out_.data() + at;
    PutU32(record + kFieldMagic, kDeltaMagic);
    PutU32(record + kFieldLength, recordLength);
    PutU32(record + kFieldType, type);
    PutU32(record + kFieldTarget, target);
    PutU32(record + kFieldCount, count);
    ++records_;
    return record;
  }

  std::vector<unsigned char>& out_;
  uint32_t chunkLength_;
  uint32_t records_ = 0;
};

// One encoding: a single pass over the chunk with the weak sum rolled by one
// byte per position, an MD5 only when a weak sum and a length agree, and
// consecutive blocks of one old chunk gathered into runs.
//
// There is no forced flush of long literals: a pending literal can pass
// 4194302 bytes only in a chunk longer than 4 MiB, and EncodeDelta refuses
// those.
class CDeltaEncoder {
 public:
  CDeltaEncoder(const SignatureHeader& signature, const unsigned char* data, uint32_t length,
                std::vector<unsigned char>& out)
      : signature_(signature), index_(signature), data_(data), length_(length), writer_(out, length) {}

  void Run() {
    if (!signature_.records.empty()) Scan();
    CloseRun();
    if (pending_ < length_) writer_.Literal(data_, pending_, length_ - pending_);
    writer_.Finish();
  }

 private:
  void Scan() {
    // Windows shorter than the old version's last block cannot match anything
    // that ends it; position 0 is always tried.
    const int32_t lastRecord = signature_.records.back().length;
    const uint32_t lastLength = std::clamp<uint32_t>(lastRecord > 0 ? lastRecord : 1, 1, kBlockSize);
    const uint32_t lastPosition = length_ > lastLength ? length_ - lastLength : 0;

    uint32_t k = 0;
    uint32_t window = WindowAt(k);
    WeakSum sum = ComputeWeakSum(data_, window);
    for (;;) {
      // Most windows land on an empty slot; only the others are looked at.
      const uint32_t weak = sum.Value();
      if (index_.HasChain(weak)) {
        const int32_t match = FindMatch(k, window, weak);
        if (match != kNone) {
          Take(match, k, window);
          k += window;
          if (k > lastPosition || k >= length_) return;
          window = WindowAt(k);
          sum = ComputeWeakSum(data_ + k, window);
          continue;
        }
      }
      if (k >= lastPosition) return;
      Roll(sum, k, window);
    }
  }

  // Moves the window one byte on: the byte at k leaves and, unless the
  // window already reaches the end, the byte after it enters.
  void Roll(WeakSum& sum, uint32_t& k, uint32_t& window) const {
    const uint32_t leaving = SignedByte(data_[k]);
    if (k + window < length_) {
      sum.s1 += SignedByte(data_[k + window]) - leaving;
      sum.s2 += sum.s1 - window * leaving;
    } else {  // near the end no byte enters: the window shrinks
      sum.s1 -= leaving;
      sum.s2 -= window * leaving;
      --window;
    }
    ++k;
  }

  uint32_t WindowAt(uint32_t k) const { return std::min<uint32_t>(kBlockSize, length_ - k); }

  // The block matching the window at k, or kNone. The block following the
  // current run is preferred so that runs keep growing.
  [[gnu::noinline]] int32_t FindMatch(uint32_t k, uint32_t window, uint32_t weak) {
    bool digested = false;
    unsigned char digest[16];
    auto matches = [&](int32_t i) {
      if (!index_.IsCandidate(i, weak, window)) return false;
      if (!digested) {
        digest_.Compute(data_ + k, window, digest);
        digested = true;
      }
      return std::memcmp(signature_.records[i].strongSum, digest, 16) == 0;
    };
    if (runFirst_ != kNone && static_cast<std::size_t>(runLast_) + 1 < index_.size() && matches(runLast_ + 1))
      return runLast_ + 1;
    for (int32_t i = index_.First(weak); i != kNone; i = index_.Next(i))
      if (matches(i)) return i;
    return kNone;
  }

  // Adds the block matched at k to the current run or starts a new run. A run
  // only grows with the next block of the same old chunk, lying right after
  // the run both in the old chunk and in this one; anything else would make
  // one copy record describe bytes that are not there.
  void Take(int32_t match, uint32_t k, uint32_t window) {
    if (runFirst_ != kNone) {
      const BlockRecord& last = signature_.records[runLast_];
      const BlockRecord& next = signature_.records[match];
      const bool extends = match == runLast_ + 1 && std::strcmp(next.name, last.name) == 0 &&
                           next.offset == last.offset + last.length && k == runTarget_ + runBytes_;
      if (extends) {
        runLast_ = match;
        runBytes_ += window;
        return;
      }
      CloseRun();
    }
    runFirst_ = runLast_ = match;
    runTarget_ = k;
    runBytes_ = window;
  }

  // Writes the literal before the current run and the run's copy record.
  void CloseRun() {
    if (runFirst_ == kNone) return;
    if (pending_ < runTarget_) writer_.Literal(data_, pending_, runTarget_ - pending_);
    writer_.Copy(runTarget_, runBytes_, signature_.records[runFirst_]);
    pending_ = runTarget_ + runBytes_;
    runFirst_ = kNone;
  }

  const SignatureHeader& signature_;
  const CBlockIndex index_;
  const unsigned char* data_;
  const uint32_t length_;
  CDeltaWriter writer_;
  CWindowDigest digest_;
  uint32_t pending_ = 0;  // start of the bytes not yet written out
  int32_t runFirst_ = kNone;
  int32_t runLast_ = kNone;
  uint32_t runTarget_ = 0;
  uint32_t runBytes_ = 0;
};

// One parsed record header.
struct DeltaRecord {
  uint32_t length = 0;
  uint32_t type = 0;
  uint32_t target = 0;
  uint32_t count = 0;
  int32_t oldOffset = 0;
  const unsigned char* name = nullptr;
  const unsigned char* bytes = nullptr;  // literal bytes
};

class CDeltaDecoder {
 public:
  CDeltaDecoder(const unsigned char* encoded, std::size_t length, const OldChunkReader& readOldChunk,
                std::vector<unsigned char>& chunk, std::string& error)
      : encoded_(encoded), length_(length), readOldChunk_(readOldChunk), chunk_(chunk), error_(error) {}

  bool Run() {
    if (!encoded_ || length_ < kDeltaHeaderSize) return Fail("encoded chunk shorter than its header");
    if (GetU32(encoded_) != length_) return Fail("header total does not match the encoded length");
    const uint32_t chunkLength = GetU32(encoded_ + 4);
    if (chunkLength == 0 || chunkLength > kChunkSize) return Fail("chunk length out of range");
    const uint32_t recordCount = GetU32(encoded_ + 8);
    chunk_.assign(chunkLength, 0);

    std::size_t at = kDeltaHeaderSize;
    for (uint32_t i = 0; i < recordCount; ++i) {
      if (at == length_) return Fail("fewer records than the header counts");
      DeltaRecord record;
      if (!Parse(at, record) || !Apply(record)) return false;
      at += record.length;
    }
    if (at != length_) return Fail("trailing bytes after the last record");
    if (covered_ != chunkLength) return Fail("records do not cover the whole chunk");
    return true;
  }

 private:
  bool Fail(const char* reason) {
    error_ = reason;
    return false;
  }

  bool Parse(std::size_t at, DeltaRecord& record) {
    if (length_ - at < kDeltaRecordSize) return Fail("record extends past the encoded data");
    const unsigned char* p = encoded_ + at;
    if (GetU32(p + kFieldMagic) != kDeltaMagic) return Fail("bad record magic");
    record.length = GetU32(p + kFieldLength);
    record.type = GetU32(p + kFieldType);
    record.target = GetU32(p + kFieldTarget);
    record.count = GetU32(p + kFieldCount);
    record.oldOffset = static_cast<int32_t>(GetU32(p + kFieldOldOffset));
    record.name = p + kFieldName;
    record.bytes = p + kDeltaRecordSize;
    if (record.type != kTypeLiteral && record.type != kTypeCopy) return Fail("unknown record type");
    if (record.length < kDeltaRecordSize) return Fail("record length below the record header");
    if (record.type == kTypeCopy && record.length != kDeltaRecordSize) return Fail("copy record length is not 108");
    if (record.type == kTypeLiteral && uint64_t{record.length} != uint64_t{kDeltaRecordSize} + record.count)
      return Fail("literal record length does not match its byte count");
    if (record.length > length_ - at) return Fail("record extends past the encoded data");
    if (record.count == 0) return Fail("record with no bytes");
    if (record.target != covered_) return Fail("records overlap or leave a gap");
    if (uint64_t{record.target} + record.count > chunk_.size()) return Fail("record goes past the chunk length");
    return true;
  }

  bool Apply(const DeltaRecord& record) {
    if (record.type == kTypeLiteral) {
      std::memcpy(chunk_.data() + record.target, record.bytes, record.count);
    } else {
      if (record.oldOffset < 0) return Fail("copy with a negative old offset");
      const void* end = std::memchr(record.name, '\0', kNameSize);
      if (!end) return Fail("old chunk name not terminated");
      const std::vector<unsigned char>* old = OldChunk(reinterpret_cast<const char*>(record.name));
      if (!old) return Fail("unknown old chunk");
      if (uint64_t{static_cast<uint32_t>(record.oldOffset)} + record.count > old->size())
        return Fail("copy goes past the end of the old chunk");
      std::memcpy(chunk_.data() + record.target, old->data() + record.oldOffset, record.count);
    }
    covered_ += record.count;
    return true;
  }

  // Each old chunk is read once per decode.
  const std::vector<unsigned char>* OldChunk(const std::string& name) {
    auto found = oldChunks_.find(name);
    if (found != oldChunks_.end()) return &found->second;
    std::vector<unsigned char> bytes;
    if (!readOldChunk_ || !readOldChunk_(name, bytes)) return nullptr;
    return &oldChunks_.emplace(name, std::move(bytes)).first->second;
  }

  const unsigned char* encoded_;
  const std::size_t length_;
  const OldChunkReader& readOldChunk_;
  std::vector<unsigned char>& chunk_;
  std::string& error_;
  uint64_t covered_ = 0;
  std::map<std::string, std::vector<unsigned char>> oldChunks_;
};

}  // namespace

bool EncodeDelta(const SignatureHeader& signature, const unsigned char* data, uint32_t length,
                 std::vector<unsigned char>& encoded) {
  if (!data || length == 0 || length > kChunkSize) return false;
  std::vector<unsigned char> out;
  try {
    CDeltaEncoder(signature, data, length, out).Run();
  } catch (const std::bad_alloc&) {
    LogText(CLogger::kError, "EncodeDelta", "out of memory");
    return false;
  }
  encoded.swap(out);
  return true;
}

bool DecodeDelta(const unsigned char* encoded, std::size_t length, const OldChunkReader& readOldChunk,
                 std::vector<unsigned char>& chunk, std::string& error) {
  try {
    return CDeltaDecoder(encoded, length, readOldChunk, chunk, error).Run();
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
}
