#pragma once
// Chunks: one row per distinct content (filed under the lower-case MD5),
// with the storage key the transmitter keeps its bytes under, and one file
// per storage key in the chunk folder. A chunk lives while a file version
// or an unfinished upload names it; the rows of entry_chunks and
// upload_chunks are its references.
#include <cstdint>
#include <string>
#include <vector>

#include "service/ServiceDb.h"

struct ChunkRow {
  std::string id;          // lower-case MD5
  std::string storageKey;  // 32 lower-case hex digits: the file name
  int64_t size = 0;
  bool stored = false;     // its bytes arrived and were verified
};

class CChunkStore {
 public:
  CChunkStore(CServiceDb& db, std::string folder) : db_(db), folder_(std::move(folder)) {}

  // Creates the folder when missing and deletes temporary files a crash
  // may have left.
  bool Prepare(std::string& error);

  bool Find(const std::string& id, ChunkRow& row);
  bool FindByStorageKey(const std::string& storageKey, ChunkRow& row);
  // The chunk's row, made (with a new storage key, not stored) when missing.
  ChunkRow Reserve(const std::string& id, int64_t size);
  // False when the row is gone (released meanwhile) or has another key.
  bool MarkStored(const std::string& id, const std::string& storageKey, int64_t size);
  // Rows (and, after the commit, files) of these chunks when nothing names
  // them any more.
  void ReleaseUnused(const std::vector<std::string>& ids);
  // The same for every chunk (at start, after unfinished uploads are dropped).
  void ReleaseAllUnused();
  // True when a file version the user may read names the chunk.
  bool Readable(int64_t userId, const std::string& id);

  enum class Stored { kOk, kWrongContent, kDiskError, kDiskFull };
  // Stores `bytes` as the chunk `row` describes when their MD5 is its id.
  // The bytes go to a temporary file first, reach the disk, then take the
  // storage key's name: a crash never leaves a torn chunk, and bytes that
  // prove wrong never take it. The check runs while the bytes are written.
  Stored StoreVerified(const ChunkRow& row, const std::vector<unsigned char>& bytes, std::string& error);
  bool ReadFile(const std::string& storageKey, std::vector<unsigned char>& bytes);
  // Where a storage key's bytes live ("" for a text that is no storage key).
  std::string FilePath(const std::string& storageKey) const;

 private:
  void RemoveFileAfterCommit(const std::string& storageKey);

  CServiceDb& db_;
  std::string folder_;
};
