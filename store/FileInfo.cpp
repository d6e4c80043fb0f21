#include "store/FileInfo.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

#include "foundation/Digest.h"
#include "foundation/Util.h"
#include "store/Delta.h"

namespace {

constexpr size_t kKeyLength = 32;

bool IsChunkKey(const std::string& text, size_t from, size_t length) {
  if (length != kKeyLength) return false;
  for (size_t i = from; i < from + length; ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

CChunkInfo KeyOnly(std::string key) {
  CChunkInfo chunk;
  chunk.key = std::move(key);
  return chunk;
}

// Splits a comma list as a tokenizer does: empty entries are skipped.
class ListReader {
 public:
  explicit ListReader(const std::string& text) : text_(text) {}
  bool Next(std::string& entry) {
    while (at_ < text_.size() && text_[at_] == ',') ++at_;
    if (at_ >= text_.size()) return false;
    size_t end = text_.find(',', at_);
    if (end == std::string::npos) end = text_.size();
    entry.assign(text_, at_, end - at_);
    at_ = end;
    return true;
  }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

bool ParseWeakSum(const std::string& text, uint32_t& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

// Appends the block records of one chunk; false on a malformed entry.
bool AddChunkBlocks(const CChunkInfo& chunk, std::vector<BlockRecord>& records) {
  if (chunk.size <= 0 || chunk.storageId.empty() || chunk.storageId.size() >= sizeof(BlockRecord::name)) {
    return false;
  }
  ListReader sums(chunk.blockSum);
  ListReader hashes(chunk.blockHash);
  std::string sum;
  std::string hash;
  int32_t offset = 0;
  while (offset < chunk.size && sums.Next(sum) && hashes.Next(hash)) {
    BlockRecord record;
    if (!ParseWeakSum(sum, record.weakSum) || !CUtil::HexToBytes(hash, record.strongSum)) return false;
    std::memcpy(record.name, chunk.storageId.c_str(), chunk.storageId.size() + 1);
    record.offset = offset;
    record.length = std::min<int32_t>(chunk.size - offset, static_cast<int32_t>(kBlockSize));
    offset += record.length;
    records.push_back(record);
  }
  return true;
}

}  // namespace

CFileInfo::CFileInfo(const std::string& path) : path(path) {}

CFileInfo::CFileInfo(const std::string& path, int32_t dir, int64_t size) : path(path), dir(dir), size(size) {}

CFileInfo::CFileInfo(const CFileInfo& other) { CopyDescription(other); }

CFileInfo& CFileInfo::operator=(const CFileInfo& other) {
  if (this == &other) return *this;
  ClearChunkBuffers();
  signature = SignatureHeader();
  CopyDescription(other);
  return *this;
}

void CFileInfo::CopyDescription(const CFileInfo& other) {
  path = other.path;
  dir = other.dir;
  size = other.size;
  mtime = other.mtime;
  createTime = other.createTime;
  writeTime = other.writeTime;
  accessTime = other.accessTime;
  chunkCount = other.chunkCount;
  chunkList = other.chunkList;
  chunks = other.chunks;
  owner = other.owner;
  mark = other.mark;
  timeAdjusted = other.timeAdjusted;
}

void CFileInfo::Reset() {
  dir = 0;
  size = 0;
  mtime = 0;
  chunkCount = 0;
  mark = 0;
  timeAdjusted = 0;
  path.clear();
  chunkList.clear();
  chunks.clear();
  ClearChunkBuffers();
  signature = SignatureHeader();
}

void CFileInfo::ClearChunks() {
  chunkCount = 0;
  chunkList.clear();
  chunks.clear();
}

bool CFileInfo::AddChunk(const std::string& key, int32_t chunkSize, const std::string& blockSum,
                         const std::string& blockHash, int32_t blockCount) {
  if (key.empty()) return false;
  chunks.push_back(CChunkInfo{key, std::string(), chunkSize, blockCount, blockSum, blockHash});
  return true;
}

int CFileInfo::BuildChunkList() {
  chunkCount = static_cast<int32_t>(chunks.size());
  if (chunks.empty()) return 1;
  std::string list;
  list.reserve(chunks.size() * (kKeyLength + 1));
  for (const CChunkInfo& chunk : chunks) {
    list += chunk.key;
    list += ',';
  }
  while (!list.empty() && list.back() == ',') list.pop_back();
  chunkList = std::move(list);
  return 1;
}

int CFileInfo::ParseChunkList() {
  chunks.clear();
  size_t at = 0;
  size_t comma;
  while ((comma = chunkList.find(',', at)) != std::string::npos) {
    if (!IsChunkKey(chunkList, at, comma - at)) {
      chunks.clear();
      return 0;
    }
    chunks.push_back(KeyOnly(chunkList.substr(at, kKeyLength)));
    at = comma + 1;
  }
  const size_t rest = chunkList.size() - at;
  if (rest > 0) {
    if (!IsChunkKey(chunkList, at, rest)) {
      chunks.clear();
      return 0;
    }
    chunks.push_back(KeyOnly(chunkList.substr(at)));
  }
  if (chunkCount != 0 && static_cast<size_t>(chunkCount) != chunks.size()) {
    chunks.clear();
    return 0;
  }
  return 1;
}

int CFileInfo::GetChunkCount() {
  if (chunkCount != 0 || chunkList.empty()) return chunkCount;
  int32_t count = 0;
  size_t at = 0;
  size_t comma;
  while ((comma = chunkList.find(',', at)) != std::string::npos) {
    ++count;
    at = comma + 1;
  }
  if (chunkList.size() - at == kKeyLength) ++count;
  chunkCount = count;
  return chunkCount;
}

void CFileInfo::AddChunkBuffer(const std::string& key, std::unique_ptr<CChunkBuffer> buffer) {
  // An entry whose buffer was taken is empty: a chunk that occurs twice in a
  // file is loaded again into it.
  auto [entry, added] = buffers_.try_emplace(key);
  if (!entry->second) entry->second = std::move(buffer);
}

std::unique_ptr<CChunkBuffer> CFileInfo::TakeChunkBuffer(const std::string& key) {
  const auto it = buffers_.find(key);
  if (it == buffers_.end()) return nullptr;
  return std::move(it->second);
}

void CFileInfo::ClearChunkBuffers() { buffers_.clear(); }

bool CFileInfo::HasChunkBuffer(const std::string& key) const {
  const auto it = buffers_.find(key);
  return it != buffers_.end() && it->second;
}

int CFileInfo::IsSameContent(const CFileInfo& other) const {
  if (dir != 0) return other.dir == dir ? 1 : 0;
  return size == other.size && chunkList == other.chunkList ? 1 : 0;
}

int CFileInfo::IsSame(const CFileInfo& other) const {
  if (dir != 0 || other.dir != 0) return dir == other.dir ? 1 : 0;
  if (size != other.size) return 0;
  if (mtime > 0 && other.mtime > 0 && mtime != other.mtime) return IsSameContent(other);
  return 1;
}

int CFileInfo::BuildSignature() {
  signature = SignatureHeader();
  const int64_t count = (size + static_cast<int64_t>(kBlockSize) - 1) / static_cast<int64_t>(kBlockSize);
  // Sized by what the chunks describe, never by `size` alone, which may come
  // from a server.
  std::vector<BlockRecord> records;
  records.reserve(chunks.size() * (kChunkSize / kBlockSize));
  for (const CChunkInfo& chunk : chunks) {
    if (!AddChunkBlocks(chunk, records)) return 0;
  }
  if (static_cast<int64_t>(records.size()) != count) return 0;
  signature.total = static_cast<int32_t>(static_cast<uint32_t>(size));
  signature.records = std::move(records);
  signature.count = static_cast<int32_t>(count);
  signature.tail = static_cast<int32_t>(size % static_cast<int64_t>(kBlockSize));
  return 1;
}

int CFileInfo::MakeDelta(const CChunkBuffer& source, CChunkBuffer& target) const {
  std::vector<unsigned char> encoded;
  if (!EncodeDelta(signature, source.data(), source.length(), encoded)) return 0;
  return target.Adopt(std::move(encoded)) ? 1 : 0;
}
