// CFileCache: cutting files into chunks, the chunk cache, rebuilding files.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <future>
#include <map>
#include <new>

#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "store/FileCache.h"
#include "store/ReplacingFile.h"

using platform::EntryType;
using platform::FileStatus;

namespace {

// Closes a descriptor of the file-system interface when leaving the scope.
class CDescriptor {
 public:
  CDescriptor(platform::IFileSystem& fs, int fd) : fs_(fs), fd_(fd) {}
  ~CDescriptor() { fs_.Close(fd_); }
  CDescriptor(const CDescriptor&) = delete;
  CDescriptor& operator=(const CDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  platform::IFileSystem& fs_;
  int fd_;
};

std::unique_ptr<CChunkBuffer> NewChunkBuffer(const char* function) {
  std::unique_ptr<CChunkBuffer> buffer;
  try {
    buffer = std::make_unique<CChunkBuffer>(kChunkSize);
  } catch (const std::bad_alloc&) {
  }
  if (!buffer || buffer->capacity() != kChunkSize) {
    LogText(CLogger::kError, function, "Faile to new a Chunk buffer");
    return nullptr;
  }
  return buffer;
}

// Chunk keys name files in the cache folder; anything but 32 hex digits
// (a key from the network, say "../x") is refused.
bool IsChunkKey(const std::string& key) {
  unsigned char bytes[16];
  return CUtil::HexToBytes(key, bytes) == 1;
}

// The chunk's key and its block lists are two independent passes over the
// same bytes; on a large chunk the key is computed on a second core.
std::string ChunkKeyBesideBlockLists(const CChunkBuffer& buffer, std::string& sums, std::string& hashes,
                                     int& blocks) {
  constexpr uint32_t kParallelFrom = 1 << 20;
  std::string key;
  std::future<void> digest;
  if (buffer.length() >= kParallelFrom) {
    try {
      digest = std::async(std::launch::async, [&] { CUtil::Md5Hex(buffer.data(), buffer.length(), key); });
    } catch (const std::system_error&) {
      // no thread to spare: both passes here
    }
  }
  if (!digest.valid()) CUtil::Md5Hex(buffer.data(), buffer.length(), key);
  CUtil::BlockSignatureLists(buffer.data(), buffer.length(), sums, hashes, blocks);
  if (digest.valid()) digest.get();
  return key;
}

}  // namespace

std::string CFileCache::CachePath(const std::string& key) const { return cacheFolder_ + "/" + key; }

// ---- cutting ----

int CFileCache::LoadChunk(CFileInfo& info) {
  if (info.dir != 0) {
    LogF(CLogger::kWarn, "CFileCache::LoadChunk", "Can't load chunk from %s", info.path.c_str());
    return 1;
  }
  for (const CChunkInfo& chunk : info.chunks) {
    if (info.HasChunkBuffer(chunk.key)) return 1;
  }
  return LoadChunk(info.path, info);
}

int CFileCache::LoadChunk(const std::string& path, CFileInfo& info) { return Cut(path, info, true); }

int CFileCache::CutChunks(const std::string& path, CFileInfo& info) { return Cut(path, info, false); }

int CFileCache::Cut(const std::string& path, CFileInfo& info, bool cacheLarge) {
  constexpr const char* kFunction = "CFileCache::LoadChunk";
  std::string full = path;
  MakeLocalPath(full);
  int fd = -1;
  if (fs_.OpenRead(full, fd) != 0) {
    LogF(CLogger::kError, kFunction, "Fail to open a localfile {%s}", full.c_str());
    return 0;
  }
  CDescriptor file(fs_, fd);
  std::unique_ptr<CChunkBuffer> buffer = NewChunkBuffer(kFunction);
  if (!buffer) return 0;
  info.ClearChunkBuffers();
  info.ClearChunks();
  int64_t total = 0;
  for (;;) {
    const int64_t got = ReadFull(fs_, file.get(), buffer->data(), kChunkSize);
    if (got < 0) {
      LogF(CLogger::kError, kFunction, "Fail to read a localfile {%s}", full.c_str());
      info.BuildChunkList();
      return 0;
    }
    total += got;
    buffer->SetLength(static_cast<uint32_t>(got));
    if (got < kChunkSize) break;
    if (!AddChunkFromBuffer(info, buffer, cacheLarge)) return 0;
  }
  if (total != info.size) {
    LogF(CLogger::kError, kFunction, "Mismatched filesize %lld with %lld of file: %s", static_cast<long long>(total),
         static_cast<long long>(info.size), full.c_str());
    info.BuildChunkList();
    return 0;
  }
  if (buffer->length() > 0 && !AddChunkFromBuffer(info, buffer, cacheLarge)) return 0;
  info.BuildChunkList();
  return 1;
}

// The buffer's bytes become the record's next chunk. Below the memory
// threshold the record keeps the buffer and `buffer` gets a fresh one; from
// it on the bytes go to the cache (unless `cacheLarge` is false) and the
// buffer is reused.
int CFileCache::AddChunkFromBuffer(CFileInfo& info, std::unique_ptr<CChunkBuffer>& buffer, bool cacheLarge) {
  std::string sums;
  std::string hashes;
  int blocks = 0;
  const std::string key = ChunkKeyBesideBlockLists(*buffer, sums, hashes, blocks);
  info.AddChunk(key, static_cast<int32_t>(buffer->length()), sums, hashes, blocks);
  if (info.size >= kMemoryThreshold) {
    if (cacheLarge) CacheChunk(key, *buffer);  // a chunk that failed here is found missing when read back
    buffer->SetLength(0);
    return 1;
  }
  info.AddChunkBuffer(key, std::move(buffer));
  buffer = NewChunkBuffer("CFileCache::LoadChunk");
  return buffer ? 1 : 0;
}

int CFileCache::ReadChunkOfFile(const std::string& path, std::size_t index, const CChunkInfo& chunk,
                                CChunkBuffer& buffer) {
  constexpr const char* kFunction = "CFileCache::ReadChunkOfFile";
  std::string full = path;
  MakeLocalPath(full);
  int fd = -1;
  if (chunk.size < 0 || static_cast<uint32_t>(chunk.size) > kChunkSize ||
      (buffer.capacity() < kChunkSize && !buffer.Resize(kChunkSize)) || fs_.OpenRead(full, fd) != 0) {
    LogF(CLogger::kError, kFunction, "Fail to open a localfile {%s}", full.c_str());
    return 0;
  }
  CDescriptor file(fs_, fd);
  const int64_t got = fs_.Seek(file.get(), static_cast<int64_t>(index) * kChunkSize) == 0
                          ? ReadFull(fs_, file.get(), buffer.data(), static_cast<std::size_t>(chunk.size))
                          : -1;
  buffer.SetLength(got > 0 ? static_cast<uint32_t>(got) : 0);
  if (got != chunk.size || !HoldsCutBytes(buffer, chunk)) {
    LogF(CLogger::kWarn, kFunction, "File {%s} no longer holds chunk %zu {%s}", full.c_str(), index, chunk.key.c_str());
    return 0;
  }
  return 1;
}

bool BytesMatchKey(const CChunkBuffer& buffer, const std::string& key) {
  std::string digest;
  return CUtil::Md5Hex(buffer.data(), buffer.length(), digest) && strcasecmp(digest.c_str(), key.c_str()) == 0;
}

// Whether the bytes are those the chunk was cut from. With the chunk's
// block hashes at hand their MD5 block by block settles it (equal MD5s of
// every block: the same bytes, which hashed to the key); those blocks are
// hashed eight at a time, which the key's one MD5 over the chunk cannot be.
bool CFileCache::HoldsCutBytes(const CChunkBuffer& buffer, const CChunkInfo& chunk) {
  if (chunk.blockHash.empty()) return BytesMatchKey(buffer, chunk.key);
  std::string hashes;
  return CUtil::BlockHashList(buffer.data(), buffer.length(), hashes) && hashes == chunk.blockHash;
}

// ---- the cache folder ----

int CFileCache::CacheChunk(const std::string& key, const CChunkBuffer& buffer) {
  const std::string path = CachePath(key);
  CReplacingFile file(fs_, path);
  int error = IsChunkKey(key) ? 0 : EINVAL;
  if (!error) error = file.Open();
  if (!error) error = file.Write(buffer.data(), buffer.length());
  if (!error) error = file.Close(false);  // the cache is emptied at every login
  if (!error) error = file.Commit();
  if (error) {
    LogF(CLogger::kError, "CFileCache::CacheChunk", "Fail to write a chunk localfile {%s} error :%d", path.c_str(),
         error);
    NoteWriteError(error, path);
    return 0;
  }
  return 1;
}

int CFileCache::FindCachedChunk(const std::string& key, CChunkInfo& chunk) {
  if (!IsChunkKey(key)) return 0;
  FileStatus status;
  fs_.Stat(CachePath(key), status);
  if (status.type != EntryType::kFile) return 0;
  chunk.key = key;
  chunk.size = static_cast<int32_t>(std::min<int64_t>(status.size, INT32_MAX));
  return 1;
}

int CFileCache::GetChunkCache(const CChunkInfo& chunk, CChunkBuffer& buffer) {
  constexpr const char* kFunction = "CFileCache::GetChunkCache";
  if (!IsChunkKey(chunk.key)) {
    LogF(CLogger::kError, kFunction, "Fail to process chunk: %s(%d)", chunk.key.c_str(), chunk.size);
    return 0;
  }
  const std::string path = CachePath(chunk.key);
  int fd = -1;
  if (!buffer.Resize(kChunkSize) || fs_.OpenRead(path, fd) != 0) {
    LogF(CLogger::kError, kFunction, "Fail to open a chunk localfile {%s}", path.c_str());
    return 0;
  }
  CDescriptor file(fs_, fd);
  int64_t got = ReadFull(fs_, file.get(), buffer.data(), kChunkSize);
  char extra = 0;
  if (got == kChunkSize && ReadFull(fs_, file.get(), &extra, 1) == 1) ++got;  // longer than any chunk
  if (got <= 0) {
    LogF(CLogger::kError, kFunction, "Fail to read a localfile {%s}", path.c_str());
    return 0;
  }
  if (got != chunk.size) {
    LogF(CLogger::kError, kFunction, "Mismated chunk size: %s(%d, %d)", chunk.key.c_str(), static_cast<int>(got),
         chunk.size);
    return 0;
  }
  buffer.SetLength(static_cast<uint32_t>(got));
  return 1;
}

// ---- rebuilding a file ----

int CFileCache::MakeFile(CFileInfo& info) {
  constexpr const char* kFunction = "CFileCache::MakeFile";
  std::string full = info.path;
  MakeLocalPath(full);
  CReplacingFile file(fs_, full);
  if (const int error = file.Open()) {
    NoteWriteError(error, full);
    Prompt(error);
    LogF(CLogger::kError, kFunction, "Fail to open a localfile {%s} error :%d", full.c_str(), error);
    return 0;
  }
  SetPathStatus(info.path, 2);
  if (!WriteChunks(info, file)) return 0;  // `file` removes the partial copy
  return FinishFile(info, full, file, true);
}

int CFileCache::FinishFile(CFileInfo& info, const std::string& full, CReplacingFile& file, bool durable,
                           int* renameError) {
  constexpr const char* kFunction = "CFileCache::MakeFile";
  if (file.written() != info.size) {
    LogF(CLogger::kError, kFunction, "Fail to make file {%s} for Mismatched size %u with %u, remove it!", full.c_str(),
         static_cast<unsigned>(file.written()), static_cast<unsigned>(info.size));
    return 0;
  }
  FileStatus old;
  fs_.Stat(full, old);
  if (old.type == EntryType::kFile) file.SetMode(old.mode);  // a replaced file keeps its permissions
  if (const int error = file.Close(durable)) {
    LogF(CLogger::kError, kFunction, "Fail to write a localfile {%s} error :%d", full.c_str(), error);
    NoteWriteError(error, full);
    return 0;
  }
  AdoptWriteTime(info, full, file.tempPath());
  if (const int error = file.Commit()) {
    if (renameError) *renameError = error;
    if (!renameError || error != EXDEV) {
      LogF(CLogger::kError, kFunction, "Fail to rename \"%s\" to \"%s\"", file.tempPath().c_str(), full.c_str());
    }
    return 0;
  }
  return 1;
}

// ---- a large download assembled in the cache folder ----

std::unique_ptr<CReplacingFile> CFileCache::NewAssembly() {
  auto assembly = std::make_unique<CReplacingFile>(fs_, CachePath("assembly"));
  if (const int error = assembly->Open()) {
    LogF(CLogger::kError, "CFileCache::NewAssembly", "Fail to open a localfile in {%s} error :%d",
         cacheFolder_.c_str(), error);
    NoteWriteError(error, cacheFolder_ + "/");
    return nullptr;
  }
  return assembly;
}

int CFileCache::MakeFileFromAssembly(CFileInfo& info, CReplacingFile& assembly) {
  std::string full = info.path;
  MakeLocalPath(full);
  SetPathStatus(info.path, 2);
  assembly.Retarget(full);
  // Flushed on its lane already: the close needs no second flush.
  int renameError = 0;
  if (FinishFile(info, full, assembly, false, &renameError)) return 1;
  if (renameError != EXDEV) return 0;
  LogF(CLogger::kInfo, "CFileCache::MakeFile", "Copy {%s} in: the user folder lies on another file system",
       full.c_str());
  CReplacingFile copy(fs_, full);
  return CopyAssembly(assembly, full, copy) && FinishFile(info, full, copy, true);
}

int CFileCache::CopyAssembly(CReplacingFile& assembly, const std::string& full, CReplacingFile& copy) {
  constexpr const char* kFunction = "CFileCache::MakeFile";
  int fd = -1;
  if (copy.Open() != 0 || fs_.OpenRead(assembly.tempPath(), fd) != 0) {
    LogF(CLogger::kError, kFunction, "Fail to open a localfile {%s}", full.c_str());
    return 0;
  }
  CDescriptor source(fs_, fd);
  std::unique_ptr<CChunkBuffer> buffer = NewChunkBuffer(kFunction);
  for (int64_t got = 1; buffer && got > 0;) {
    got = ReadFull(fs_, source.get(), buffer->data(), kChunkSize);
    if (got < 0) return 0;
    if (const int error = copy.Write(buffer->data(), static_cast<std::size_t>(got))) {
      LogF(CLogger::kError, kFunction, "Fail to write a localfile {%s} error :%d", full.c_str(), error);
      NoteWriteError(error, full);
      return 0;
    }
  }
  return buffer ? 1 : 0;
}

void CFileCache::CacheAssembledChunks(CReplacingFile& assembly, const CFileInfo& info, std::size_t count) {
  int fd = -1;
  if (assembly.Flush() != 0 || fs_.OpenRead(assembly.tempPath(), fd) != 0) return;
  CDescriptor source(fs_, fd);
  std::unique_ptr<CChunkBuffer> buffer = NewChunkBuffer("CFileCache::CacheAssembledChunks");
  for (std::size_t i = 0; buffer && i < count && i < info.chunks.size(); ++i) {
    const int64_t got = ReadFull(fs_, source.get(), buffer->data(), kChunkSize);
    if (got != info.chunks[i].size) return;
    buffer->SetLength(static_cast<uint32_t>(got));
    CacheChunk(info.chunks[i].key, *buffer);
  }
}

// Writes the chunks in order, each from the record's buffer or from the
// cache. A buffer serves every chunk of its key, so a file that repeats a
// chunk is rebuilt from memory too.
int CFileCache::WriteChunks(CFileInfo& info, CReplacingFile& file) {
  std::map<std::string, std::unique_ptr<CChunkBuffer>> taken;
  std::unique_ptr<CChunkBuffer> fromCache;
  for (const CChunkInfo& chunk : info.chunks) {
    auto found = taken.find(chunk.key);
    if (found == taken.end()) {
      if (std::unique_ptr<CChunkBuffer> buffer = info.TakeChunkBuffer(chunk.key)) {
        found = taken.emplace(chunk.key, std::move(buffer)).first;
      }
    }
    const CChunkBuffer* source = found == taken.end() ? nullptr : found->second.get();
    if (!source) {
      if (!fromCache) fromCache = NewChunkBuffer("CFileCache::MakeFile");
      if (!fromCache || !GetChunkCache(chunk, *fromCache)) {
        LogF(CLogger::kError, "CFileCache::MakeFile", "Fail to get chunk of {%s} from cache", chunk.key.c_str());
        return 0;
      }
      source = fromCache.get();
    }
    if (const int error = file.Write(source->data(), source->length())) {
      LogF(CLogger::kError, "CFileCache::MakeFile", "Fail to write a localfile {%s} error :%d",
           file.target().c_str(), error);
      NoteWriteError(error, file.target());
      return 0;
    }
  }
  return 1;
}

// Gives the new file the record's modify time. A file system with a coarser
// clock keeps another time; the record then takes that one so the next scan
// does not see a change.
void CFileCache::AdoptWriteTime(CFileInfo& info, const std::string& shownPath, const std::string& tempPath) {
  if (info.mtime > 0) fs_.SetWriteTime(tempPath, static_cast<FileTime>(info.mtime));
  FileStatus written;
  fs_.Stat(tempPath, written);
  const auto kept = static_cast<int64_t>(written.writeTime);
  if (kept == info.mtime) return;
  LogF(CLogger::kWarn, "CFileCache::MakeFile", "Mayble a resolution of 2 seconds from file: %s(%ld <-> %ld)",
       shownPath.c_str(), static_cast<long>(kept), static_cast<long>(info.mtime));
  info.mtime = kept;
  info.timeAdjusted = 1;
}
