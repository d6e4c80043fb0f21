#include "engine/ChunkPrefetch.h"

#include <system_error>
#include <utility>

#include "store/FileCache.h"

CChunkPrefetch::~CChunkPrefetch() { Drop(); }

bool CChunkPrefetch::IsPending(const std::string& rel, int64_t size, int64_t mtime) const {
  return pending_.valid() && rel_ == rel && size_ == size && mtime_ == mtime;
}

void CChunkPrefetch::Drop() {
  if (pending_.valid()) pending_.get();
}

void CChunkPrefetch::Start(const CFileInfo& scanned) {
  if (IsPending(scanned.path, scanned.size, scanned.mtime)) return;
  Drop();
  rel_ = scanned.path;
  size_ = scanned.size;
  mtime_ = scanned.mtime;
  try {
    pending_ = std::async(std::launch::async, [this, file = CFileInfo(scanned)]() mutable {
      Loaded loaded;
      loaded.ok = cache_.LoadChunk(file.path, file);
      loaded.file = std::move(file);
      return loaded;
    });
  } catch (const std::system_error&) {
    // No thread to spare: the walk cuts the file itself when it gets there.
  }
}

int CChunkPrefetch::Load(const std::string& rel, CFileInfo& file) {
  if (!IsPending(rel, file.size, file.mtime)) return cache_.LoadChunk(rel, file);
  Loaded loaded = pending_.get();
  const std::string path = file.path;
  file = std::move(loaded.file);
  file.path = path;
  return loaded.ok;
}
