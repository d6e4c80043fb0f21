#include "engine/DownloadAhead.h"

#include <algorithm>
#include <utility>

#include "engine/TransferLanes.h"
#include "foundation/Util.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"

void FillBlockLists(CChunkInfo& chunk, const CChunkBuffer& buffer) {
  std::string sums;
  std::string hashes;
  int count = 0;
  CUtil::BlockSignatureLists(buffer.data(), buffer.length(), sums, hashes, count);
  chunk.blockSum = std::move(sums);
  chunk.blockHash = std::move(hashes);
  chunk.blockCount = count;
}

namespace {

// The first index of chunk `index`'s key; `index` when it comes first there.
std::size_t FirstOfKey(const CFileInfo& file, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    if (file.chunks[i].key == file.chunks[index].key) return i;
  }
  return index;
}

bool KeyComesAgain(const CFileInfo& file, std::size_t index) {
  for (std::size_t i = index + 1; i < file.chunks.size(); ++i) {
    if (file.chunks[i].key == file.chunks[index].key) return true;
  }
  return false;
}

bool Download(CTransferLane& lane, const CChunkInfo& chunk, CChunkBuffer& buffer) {
  std::string result;
  return lane.transmitter.DownloadChunk(chunk, result, buffer) && BytesMatchKey(buffer, chunk.key);
}

// On a lane, chunks from `from` on into memory (below the memory threshold)
// or the cache. A chunk that fails here is left to the worker, which tries
// it again and reports why.
void FetchAhead(CTransferLane& lane, CFileCache& cache, const std::atomic<int>& cancel, const CFileInfo& file,
                CDownloadAhead::Fetched& fetched, std::size_t from) {
  const bool inMemory = file.size < kMemoryThreshold;
  for (std::size_t i = from; i < file.chunks.size() && !cancel; ++i) {
    const CChunkInfo& chunk = file.chunks[i];
    CChunkInfo cached;
    if (fetched.chunks[i].fetched || FirstOfKey(file, i) != i || cache.FindCachedChunk(chunk.key, cached)) continue;
    auto buffer = std::make_unique<CChunkBuffer>(0);
    if (!Download(lane, chunk, *buffer)) continue;
    CDownloadAhead::Chunk& out = fetched.chunks[i];
    if (!inMemory && !cache.CacheChunk(chunk.key, *buffer)) continue;
    FillBlockLists(out.lists, *buffer);
    if (inMemory) out.buffer = std::move(buffer);
    out.fetched = true;
  }
}

// On a lane, a large file's chunks in order into an assembly; a key that
// comes again is cached at its first place and read back at the next.
// The number of chunks assembled.
std::size_t Assemble(CTransferLane& lane, CFileCache& cache, const std::atomic<int>& cancel, const CFileInfo& file,
                     CDownloadAhead::Fetched& fetched, CReplacingFile& assembly) {
  CChunkBuffer buffer(kChunkSize);
  std::size_t i = 0;
  for (; i < file.chunks.size() && !cancel; ++i) {
    const CChunkInfo& chunk = file.chunks[i];
    CDownloadAhead::Chunk& out = fetched.chunks[i];
    const std::size_t first = FirstOfKey(file, i);
    CChunkInfo cached;
    if (first != i) {
      if (!cache.GetChunkCache(chunk, buffer)) break;
      out.lists = fetched.chunks[first].lists;
    } else {
      const bool wasCached = cache.FindCachedChunk(chunk.key, cached);
      if (wasCached ? !cache.GetChunkCache(chunk, buffer) : !Download(lane, chunk, buffer)) break;
      if (!wasCached && KeyComesAgain(file, i) && !cache.CacheChunk(chunk.key, buffer)) break;
      FillBlockLists(out.lists, buffer);
    }
    if (assembly.Write(buffer.data(), buffer.length()) != 0) break;
    out.fetched = true;
  }
  return i;
}

void FetchFileAhead(CTransferLane& lane, CFileCache& cache, const std::atomic<int>& cancel, const CFileInfo& file,
                    CDownloadAhead::Fetched& fetched) {
  std::unique_ptr<CReplacingFile> assembly = cache.NewAssembly();
  if (!assembly) {
    FetchAhead(lane, cache, cancel, file, fetched, 0);
    return;
  }
  const std::size_t assembled = Assemble(lane, cache, cancel, file, fetched, *assembly);
  if (assembled == file.chunks.size() && assembly->Flush() == 0) {
    fetched.assembly = std::move(assembly);
    return;
  }
  cache.CacheAssembledChunks(*assembly, file, assembled);
  assembly.reset();
  if (!cancel) FetchAhead(lane, cache, cancel, file, fetched, assembled);
}

}  // namespace

CDownloadAhead::CDownloadAhead(CTransferLanes& lanes, CFileCache& cache, CChunkJournal& chunks,
                               const std::atomic<int>& cancel, int64_t memoryBudget)
    : lanes_(lanes), cache_(cache), chunkJournal_(chunks), cancel_(cancel), budget_(memoryBudget) {}

CDownloadAhead::~CDownloadAhead() = default;

void CDownloadAhead::Expect(const CFileInfo& file) {
  indexOf_[file.path] = expected_.size();
  expected_.push_back(file);
}

void CDownloadAhead::Pump() {
  while (next_ < expected_.size() && !cancel_ && started_.size() < kMostAhead) {
    CFileInfo& file = expected_[next_];
    const int64_t held = std::min<int64_t>(file.size, int64_t{2} * kChunkSize);
    if (held_ > 0 && held_ + held > budget_) return;
    if (!prepared_) {
      prepared_ = std::make_shared<Entry>();
      prepared_->file = file;
      prepared_->held = held;
      if (!chunkJournal_.GetFileChunk(prepared_->file)) {
        prepared_.reset();
        ++next_;  // the worker meets the same failure and reports it
        continue;
      }
      prepared_->fetched.chunks.resize(prepared_->file.chunks.size());
    }
    const std::shared_ptr<Entry> entry = prepared_;
    CFileCache& cache = cache_;
    const std::atomic<int>& cancel = cancel_;
    const bool started = lanes_.TrySubmit(
        [entry, &cache, &cancel](CTransferLane& lane) -> CTransferLanes::Event {
          FetchFileAhead(lane, cache, cancel, entry->file, entry->fetched);
          return [entry] { entry->done = true; };
        },
        0);
    if (!started) return;
    prepared_.reset();
    started_[next_] = entry;
    held_ += held;
    file = CFileInfo();  // its copy travels with the entry
    ++next_;
  }
}

bool CDownloadAhead::Take(const std::string& serverPath, Fetched& fetched) {
  const auto found = indexOf_.find(serverPath);
  if (found == indexOf_.end()) return false;
  const std::size_t index = found->second;
  while (!started_.empty() && started_.begin()->first < index) Drop(started_.begin()->first);
  if (next_ <= index) {
    next_ = index + 1;  // the worker is there: too late to start it ahead
    prepared_.reset();
  }
  const auto entry = started_.find(index);
  if (entry == started_.end()) {
    Pump();
    return false;
  }
  const std::shared_ptr<Entry> taken = entry->second;
  lanes_.RunUntil([&] { return taken->done; });
  Drop(index);
  Pump();
  if (!taken->done) return false;
  fetched = std::move(taken->fetched);
  return true;
}

// A file still in flight keeps its memory until its fetch ends; it is not
// counted any more, which the budget's one-file slack allows for.
void CDownloadAhead::Drop(std::size_t index) {
  const auto entry = started_.find(index);
  if (entry == started_.end()) return;
  held_ -= entry->second->held;
  started_.erase(entry);
}
