#pragma once
// The records every part of the client passes around: one version of a file
// or folder (CFileInfo) with its chunks (CChunkInfo), the block signature of
// that version, and one system message of the service (CInfoAttr).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileTime.h"
#include "store/ChunkBuffer.h"

// One chunk of a file: at most 4 MiB, named by the MD5 of its bytes.
struct CChunkInfo {
  std::string key;        // 32 hex digits
  std::string storageId;  // the transmitter's storage key; empty until known
  int32_t size = 0;
  int32_t blockCount = 0;
  std::string blockSum;   // "<weak>," per 4096-byte block
  std::string blockHash;  // "<MD5 upper case>," per block
};

// One 4096-byte block (or shorter last block of a chunk) of a signature.
struct BlockRecord {
  char name[80] = {};  // storage key of the chunk holding the block, NUL-terminated
  int32_t offset = 0;  // inside that chunk
  int32_t length = 0;
  uint32_t weakSum = 0;
  int32_t next = -1;  // next record in the same hash chain
  uint16_t matchFlag = 0;
  unsigned char strongSum[16] = {};
};

// The block signature of one version of a file.
struct SignatureHeader {
  int32_t total = 0;  // bytes covered (low 32 bits of the size)
  std::vector<BlockRecord> records;
  int32_t count = 0;  // ceil(total / 4096)
  int32_t blockSize = 4096;
  int32_t tail = 0;  // total % 4096
  int32_t strongLength = 16;
};

// One version of one file or folder. A value: copies carry the description
// (path, sizes, times, chunks) but never the loaded chunk buffers or the
// signature, which belong to the record they were made for.
class CFileInfo {
 public:
  std::string path;  // "/" separators: root-relative ("/a/b.txt") or a server path
  int32_t timeAdjusted = 0;
  int32_t mark = 0;
  int32_t dir = 0;  // 0 file, 1 folder, >1 shared folder (the share id)
  int64_t size = 0;
  int64_t mtime = 0;  // local files: FILETIME ticks; local folders: 1; server: as sent
  FileTime createTime = 0;
  FileTime writeTime = 0;
  FileTime accessTime = 0;
  int32_t chunkCount = 0;
  std::string chunkList;  // keys joined by ","
  std::string owner;      // owner of a shared folder
  std::vector<CChunkInfo> chunks;
  SignatureHeader signature;

  CFileInfo() = default;
  explicit CFileInfo(const std::string& path);
  CFileInfo(const std::string& path, int32_t dir, int64_t size);
  CFileInfo(const CFileInfo& other);
  CFileInfo& operator=(const CFileInfo& other);
  CFileInfo(CFileInfo&&) noexcept = default;
  CFileInfo& operator=(CFileInfo&&) noexcept = default;
  ~CFileInfo() = default;

  // Empties the record but for the FILETIMEs and the owner.
  void Reset();
  void ClearChunks();
  // Appends a chunk (storage key empty). False for an empty key.
  bool AddChunk(const std::string& key, int32_t size, const std::string& blockSum,
                const std::string& blockHash, int32_t blockCount);
  // chunkList and chunkCount from `chunks`; with no chunks only chunkCount = 0.
  int BuildChunkList();
  // `chunks` (keys only) from chunkList. Returns 0, with `chunks` emptied,
  // when an entry is not 32 hex digits or the number of keys differs from a
  // nonzero chunkCount; 1 otherwise.
  int ParseChunkList();
  // chunkCount, counted from chunkList when it is 0.
  int GetChunkCount();

  // The record takes ownership; a key that still holds a buffer keeps it (the
  // new one is freed), a key whose buffer was taken gets the new one.
  void AddChunkBuffer(const std::string& key, std::unique_ptr<CChunkBuffer> buffer);
  // The buffer of `key`, now owned by the caller; null when there is none.
  std::unique_ptr<CChunkBuffer> TakeChunkBuffer(const std::string& key);
  void ClearChunkBuffers();
  bool HasChunkBuffer(const std::string& key) const;

  // Folders: same dir. Files: same size and chunk list.
  int IsSameContent(const CFileInfo& other) const;
  // The quick test: folders by dir; files by size, then by content only when
  // both times are positive and differ.
  int IsSame(const CFileInfo& other) const;

  // Builds `signature` from the chunks' block lists and storage keys. Returns
  // 0, leaving no signature, when the lists do not cover the size exactly,
  // hold malformed entries, or a chunk has no storage key (or one longer than
  // 79 characters): a delta could not name the blocks it copies.
  int BuildSignature();
  // Encodes `source` against `signature` into `target`. 0, target untouched,
  // when no encoding could be made.
  int MakeDelta(const CChunkBuffer& source, CChunkBuffer& target) const;

 private:
  void CopyDescription(const CFileInfo& other);

  std::map<std::string, std::unique_ptr<CChunkBuffer>> buffers_;
};

// One system message of the service.
struct CInfoAttr {
  int32_t id = 0;
  int32_t type = 0;
  int32_t createTime = 0;
  int32_t expireTime = 0;
  std::string info;
};

// System messages by id; inserting an id already present keeps the first
// (use emplace/insert, never operator[]).
using CInfoAttrMap = std::map<int32_t, CInfoAttr>;
