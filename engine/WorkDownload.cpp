// CWork: bringing server content into the user folder. A file travels as
// chunks, each taken from the chunk cache when it is there, else from the
// transmitter (and then cached); the file cache assembles the file beside
// its target and moves it in only when complete. Content already on disk is
// copied instead of downloaded.
#include <strings.h>

#include "engine/DownloadAhead.h"
#include "engine/Work.h"
#include "engine/WorkInternal.h"
#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

namespace {

constexpr const char* kUserLogout = "User request logout";

enum class Fetch { kOk, kCacheReadFailed, kDownloadFailed, kCacheWriteFailed };

// The chunk's bytes from the cache, else from the transmitter. The chunk of
// a file assembled from the cache is cached; one kept in memory is cached
// only when its file fails (KeepHeldChunks), for the next pass.
Fetch FetchChunk(CFileCache& cache, CTransmitter& transmitter, const CChunkInfo& chunk, CChunkBuffer& buffer,
                 bool cacheIt) {
  CChunkInfo cached;
  if (cache.FindCachedChunk(chunk.key, cached)) {
    return cache.GetChunkCache(chunk, buffer) ? Fetch::kOk : Fetch::kCacheReadFailed;
  }
  std::string result;
  if (!transmitter.DownloadChunk(chunk, result, buffer)) return Fetch::kDownloadFailed;
  if (!BytesMatchKey(buffer, chunk.key)) {
    LogF(CLogger::kError, "CWork::FetchChunk", "Mismatched content of chunk {%s} from transmitter",
         chunk.key.c_str());
    return Fetch::kDownloadFailed;
  }
  if (!cacheIt) return Fetch::kOk;
  return cache.CacheChunk(chunk.key, buffer) ? Fetch::kOk : Fetch::kCacheWriteFailed;
}

// A file that could not be made keeps the chunks it holds in memory in the
// cache: the next pass fetches only the rest.
void KeepHeldChunks(CFileCache& cache, CFileInfo& file) {
  for (const CChunkInfo& chunk : file.chunks) {
    std::unique_ptr<CChunkBuffer> held = file.TakeChunkBuffer(chunk.key);
    if (held) cache.CacheChunk(chunk.key, *held);
  }
}

// A chunk whose key came earlier in the same file: its bytes are already
// held, only its lists are copied.
bool CopyListsOfRepeatedChunk(CFileInfo& file, std::size_t index) {
  CChunkInfo& chunk = file.chunks[index];
  if (!file.HasChunkBuffer(chunk.key)) return false;
  for (std::size_t i = 0; i < index; ++i) {
    if (file.chunks[i].key != chunk.key) continue;
    chunk.blockSum = file.chunks[i].blockSum;
    chunk.blockHash = file.chunks[i].blockHash;
    chunk.blockCount = file.chunks[i].blockCount;
    return true;
  }
  return false;
}

}  // namespace

int CWork::GetbyLocal(const CFileInfo& updated) {
  constexpr const char* kFunction = "CWork::GetbyLocal";
  if (updated.dir != 0 || updated.size <= 0) return 0;
  CFileItem same;
  if (!fileJournal_->FindSameFile(updated, same)) return 0;
  LogF(CLogger::kInfo, kFunction, "Get copy from local file: %s(%lld)", same.active.path.c_str(),
       static_cast<long long>(same.active.size));
  std::string from;
  std::string to;
  if (!LocalPath(same.active.path, from) || !LocalPath(updated.path, to)) return 0;
  if (!fileCache_->Copy(from, to)) return 0;
  // The source may have been edited since the journal recorded it: the copy
  // counts only when it holds the server's chunks.
  CFileInfo copy;
  if (fileCache_->StatLocal(to, copy) && copy.size == updated.size && fileCache_->LoadChunk(to, copy) &&
      copy.chunkList == updated.chunkList) {
    SetTimeFrom(updated, to);
    return 1;
  }
  fileCache_->Remove(to);
  LogF(CLogger::kInfo, kFunction, "Fail to get copy from local: %s(%lld)", same.active.path.c_str(),
       static_cast<long long>(same.active.size));
  return 0;
}

int CWork::DownloadNewFile(const CFileInfo& updated) {
  constexpr const char* kFunction = "CWork::DownloadNewFile";
  std::string rel;
  if (!LocalPath(updated.path, rel)) return 0;
  const std::string line = StrFormat("%s%s(%lld, %lld)", LocalText("下载新文件: ").c_str(), rel.c_str(),
                                     static_cast<long long>(updated.size), static_cast<long long>(updated.mtime));
  LogText(CLogger::kInfo, kFunction, line);
  Message(line);
  Status(LocalText("下载新文件: ") + rel);

  if (updated.dir > 1) {
    const std::string id = std::to_string(updated.dir);
    std::string existing;
    if (fileCache_->FindScannedShare(id, existing)) {
      // The share got another name on the server: its folder moves along.
      fileCache_->MakeRootRelative(existing);
      if (existing != rel && !fileCache_->Rename(existing, rel)) {
        LogF(CLogger::kError, kFunction, "Fail to rename (%s) from local FS", existing.c_str());
        return 0;
      }
    } else if (!fileCache_->MkDir(rel)) {
      LogF(CLogger::kError, kFunction, "Fail to make folder: %s", rel.c_str());
      return 0;
    }
    MarkShared(rel, updated);
    fileJournal_->SetDBShare(id, updated.path);
    return 1;
  }
  if (updated.dir == 1) {
    if (!fileCache_->MkDir(rel)) {
      LogF(CLogger::kError, kFunction, "Fail to make folder: %s", rel.c_str());
      return 0;
    }
    return 1;
  }
  CFileInfo file = updated;
  if (!DownloadFileChunks(file, rel)) return 0;
  return RecordAdjustedTime(file, updated);
}

// Every chunk is tried before the file is given up, so the cache holds all
// that could be fetched and the next pass asks only for the rest.
int CWork::DownloadFileChunks(CFileInfo& file, const std::string& rel) {
  constexpr const char* kFunction = "CWork::DownloadNewFile";
  if (!chunkJournal_->GetFileChunk(file)) {
    LogF(CLogger::kError, kFunction, "Fail to get chunk of file {%s} from DB", file.path.c_str());
    return 0;
  }
  const bool inMemory = file.size < kMemoryThreshold;
  CDownloadAhead::Fetched fetched;  // empty unless a lane fetched the file ahead
  if (downloadAhead_) downloadAhead_->Take(file.path, fetched);
  std::vector<CDownloadAhead::Chunk>& ahead = fetched.chunks;
  for (std::size_t i = 0; i < ahead.size() && inMemory; ++i) {
    if (ahead[i].fetched) file.AddChunkBuffer(file.chunks[i].key, std::move(ahead[i].buffer));
  }
  bool failed = false;
  for (std::size_t i = 0; i < file.chunks.size(); ++i) {
    if (cancel_) {
      LogText(CLogger::kInfo, kFunction, kUserLogout);
      KeepHeldChunks(*fileCache_, file);
      return 0;
    }
    CChunkInfo& chunk = file.chunks[i];
    if (CopyListsOfRepeatedChunk(file, i)) continue;
    if (i < ahead.size() && ahead[i].fetched) {
      // Fetched and checked by a lane: its bytes are in the assembly, the
      // cache or (below the memory threshold, without an assembly) memory.
      chunk.blockSum = std::move(ahead[i].lists.blockSum);
      chunk.blockHash = std::move(ahead[i].lists.blockHash);
      chunk.blockCount = ahead[i].lists.blockCount;
      continue;
    }
    auto buffer = std::make_unique<CChunkBuffer>(0);
    const Fetch fetched = FetchChunk(*fileCache_, *transmitter_, chunk, *buffer, !inMemory);
    if (fetched != Fetch::kOk) {
      const char* format = fetched == Fetch::kCacheReadFailed   ? "Fail to get a chunk {%s} from cache"
                           : fetched == Fetch::kDownloadFailed ? "Fail to download a chunk {%s} from transmitter"
                                                                : "Fail to cache a chunk {%s} from transmitter";
      LogF(CLogger::kError, kFunction, format, chunk.key.c_str());
      failed = true;
      continue;
    }
    FillBlockLists(chunk, *buffer);
    if (inMemory) file.AddChunkBuffer(chunk.key, std::move(buffer));
  }
  if (failed) KeepHeldChunks(*fileCache_, file);
  return RecordAndMakeFile(file, rel, !failed, kFunction, fetched.assembly.get());
}

// A file system that keeps coarser times gave the file another time than
// the server's: the journal records the kept one, so no change is seen.
int CWork::RecordAdjustedTime(CFileInfo& file, const CFileInfo& updated) {
  if (!file.timeAdjusted) return 1;
  file.path = updated.path;
  if (!fileJournal_->Modify(file)) {
    LogF(CLogger::kError, "CWork::RecordAdjustedTime", "Fail to modify a file {%s} from DB", updated.path.c_str());
    return 0;
  }
  return 1;
}

int CWork::DownloadUpdatedFile(const CFileInfo& active, const CFileInfo& updated) {
  constexpr const char* kFunction = "CWork::DownloadUpdatedFile";
  std::string relOld;
  std::string relNew;
  if (!LocalPath(active.path, relOld) || !LocalPath(updated.path, relNew)) return 0;
  std::string full = relOld;
  fileCache_->MakeLocalPath(full);
  const std::string line = StrFormat(
      "%s%s(%lld, %lld -> %lld, %lld)", LocalText("更新文件: ").c_str(), relOld.c_str(),
      static_cast<long long>(active.size), static_cast<long long>(active.mtime),
      static_cast<long long>(updated.size), static_cast<long long>(updated.mtime));
  LogText(CLogger::kInfo, kFunction, line);
  Message(line);
  Status(LocalText("更新文件: ") + full);

  if (active.dir > 1) {
    fileCache_->RemoveShareMarker(relOld);
    fileCache_->RemoveFolderIcon(relOld);
  }
  if (active.dir != 0 && updated.dir != 0) {
    if (updated.dir > 1) MarkShared(relNew, updated);
    return 1;
  }
  if (active.dir != 0 || updated.dir != 0) {
    // The entry changes kind. A folder with the user's entries inside is set
    // aside rather than deleted with them.
    if (active.dir != 0 && FolderHoldsUserEntries(*fileCache_, relOld)) {
      if (!SetAside(relOld, "Fail to remove a file {%s}")) return 0;
    } else if (!fileCache_->Remove(relOld)) {
      LogF(CLogger::kError, kFunction, "Fail to remove a file {%s}", relOld.c_str());
      return 0;
    }
    if (!GetbyLocal(updated) && !DownloadNewFile(updated)) {
      LogF(CLogger::kError, kFunction, "Fail to download a file {%s}", relNew.c_str());
      return 0;
    }
    return 1;
  }
  CFileInfo file = updated;
  if (!ReplaceFileChunks(active, file, relOld, relNew)) return 0;
  return RecordAdjustedTime(file, updated);
}

// The new version's chunks: those the local file already has are taken from
// it, the rest from the cache or the transmitter. Gives up at the first
// chunk it cannot get.
int CWork::ReplaceFileChunks(const CFileInfo& active, CFileInfo& file, const std::string& relOld,
                             const std::string& relNew) {
  constexpr const char* kFunction = "CWork::DownloadUpdatedFile";
  CFileInfo old;
  if (!fileCache_->StatLocal(relOld, old) || !fileCache_->LoadChunk(relOld, old)) {
    LogF(CLogger::kError, kFunction, "Fail to load chunk from file: %s", relOld.c_str());
    return 0;
  }
  if (!chunkJournal_->GetFileChunk(file)) {
    LogF(CLogger::kError, kFunction, "Fail to get chunk of file {%s} from DB", file.path.c_str());
    return 0;
  }
  const bool inMemory = file.size < kMemoryThreshold && active.size < kMemoryThreshold;
  for (std::size_t i = 0; i < file.chunks.size(); ++i) {
    if (cancel_) {
      LogText(CLogger::kInfo, kFunction, kUserLogout);
      return 0;
    }
    CChunkInfo& chunk = file.chunks[i];
    if (CopyListsOfRepeatedChunk(file, i)) continue;
    std::unique_ptr<CChunkBuffer> buffer = old.TakeChunkBuffer(chunk.key);
    const bool fromOldFile = buffer != nullptr;
    if (!fromOldFile) {
      buffer = std::make_unique<CChunkBuffer>(0);
      // Cached at once: this loop gives up at the first chunk it cannot get.
      const Fetch fetched = FetchChunk(*fileCache_, *transmitter_, chunk, *buffer, true);
      if (fetched == Fetch::kCacheReadFailed) {
        LogF(CLogger::kError, kFunction, "Fail to get chunk of file: %s", relNew.c_str());
        return 0;
      }
      if (fetched == Fetch::kDownloadFailed) {
        LogF(CLogger::kError, kFunction, "Fail to download chunk of file: %s", relNew.c_str());
        return 0;
      }
      if (fetched == Fetch::kCacheWriteFailed) {
        LogF(CLogger::kWarn, kFunction, "Fail to cache chunk of file {%s}", relNew.c_str());
      }
    } else if (!inMemory) {
      fileCache_->CacheChunk(chunk.key, *buffer);  // the file is assembled from the cache
    }
    FillBlockLists(chunk, *buffer);
    if (inMemory) file.AddChunkBuffer(chunk.key, std::move(buffer));
  }
  return RecordAndMakeFile(file, relNew, true, kFunction);
}

// The fetched chunks go to the chunk journal (even an incomplete set: the
// next pass fetches only what is missing), then the file is assembled at
// `rel` when every chunk is at hand (moved in, when a lane assembled it).
int CWork::RecordAndMakeFile(CFileInfo& file, const std::string& rel, bool chunksComplete, const char* function,
                             CReplacingFile* assembly) {
  if (!chunkJournal_->AddFileChunk(file)) {
    LogText(CLogger::kError, function, "Fail to add a chunk info to DB");
    return 0;
  }
  file.path = rel;
  const bool made =
      chunksComplete && (assembly ? fileCache_->MakeFileFromAssembly(file, *assembly) : fileCache_->MakeFile(file));
  if (!made) {
    LogF(CLogger::kError, function, "Fail to make a file {%s}", rel.c_str());
    return 0;
  }
  return 1;
}
