#include "service/Chunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>

#include "service/Identifiers.h"

namespace {

constexpr const char* kTempPrefix = ".tmp-";
constexpr size_t kCheckAsideFrom = 256 * 1024;

bool ReadRow(CStatement& row, ChunkRow& chunk) {
  if (!row.Step()) return false;
  chunk.id = row.Text(0);
  chunk.storageKey = row.Text(1);
  chunk.size = row.Int(2);
  chunk.stored = row.Int(3) != 0;
  return true;
}

CChunkStore::Stored Failed(int error) {
  return error == ENOSPC || error == EDQUOT ? CChunkStore::Stored::kDiskFull : CChunkStore::Stored::kDiskError;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Chunk files are written once and seldom read soon after, so they are
// written past the page cache: filling the cache costs more than the
// transfer of the bytes itself. Direct writes need block-aligned memory and
// lengths; the bytes go through an aligned buffer padded to whole blocks
// and the file is cut back to its size afterwards.
constexpr size_t kDirectAlign = 4096;

struct FreeAligned {
  void operator()(unsigned char* memory) const { std::free(memory); }
};

bool WriteDirect(int fd, const std::vector<unsigned char>& bytes) {
  const size_t padded = (bytes.size() + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
  thread_local std::unique_ptr<unsigned char, FreeAligned> buffer;
  thread_local size_t capacity = 0;
  if (capacity < padded) {
    buffer.reset(static_cast<unsigned char*>(std::aligned_alloc(kDirectAlign, padded)));
    capacity = buffer ? padded : 0;
    if (!buffer) return false;
  }
  std::memcpy(buffer.get(), bytes.data(), bytes.size());
  std::memset(buffer.get() + bytes.size(), 0, padded - bytes.size());
  return WriteAll(fd, buffer.get(), padded) && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
}

// A file system without direct writes refuses them (at open or at the
// first write); the bytes then go through the page cache.
int OpenNew(const std::string& path) {
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  const int fd = ::open(path.c_str(), kFlags | O_DIRECT, 0600);
  return fd >= 0 || errno != EINVAL ? fd : ::open(path.c_str(), kFlags, 0600);
}

bool WriteChunkBytes(int fd, const std::vector<unsigned char>& bytes) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_DIRECT) != 0) {
    if (WriteDirect(fd, bytes)) return true;
    if (::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0 || ::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      return false;
    }
  }
  return WriteAll(fd, bytes.data(), bytes.size());
}

}  // namespace

bool CChunkStore::Prepare(std::string& error) {
  std::error_code code;
  std::filesystem::create_directories(folder_, code);
  if (code || ::chmod(folder_.c_str(), 0700) != 0) {
    error = "cannot create " + folder_ + ": " + (code ? code.message() : std::strerror(errno));
    return false;
  }
  for (const auto& item : std::filesystem::directory_iterator(folder_, code)) {
    if (item.path().filename().string().rfind(kTempPrefix, 0) == 0) std::filesystem::remove(item.path(), code);
  }
  return true;
}

bool CChunkStore::Find(const std::string& id, ChunkRow& row) {
  auto lock = db_.Lock();
  CStatement query = db_.Query("SELECT md5, storage_key, size, stored FROM chunks WHERE md5 = ?1", id);
  return ReadRow(query, row);
}

bool CChunkStore::FindByStorageKey(const std::string& storageKey, ChunkRow& row) {
  auto lock = db_.Lock();
  CStatement query = db_.Query("SELECT md5, storage_key, size, stored FROM chunks WHERE storage_key = ?1", storageKey);
  return ReadRow(query, row);
}

ChunkRow CChunkStore::Reserve(const std::string& id, int64_t size) {
  CTransaction transaction(db_);
  ChunkRow row;
  if (!Find(id, row)) {
    row = ChunkRow{id, NewStorageKey(), size, false};
    db_.Run("INSERT INTO chunks(md5, storage_key, size, stored) VALUES(?1, ?2, ?3, 0)", id, row.storageKey, size);
  }
  transaction.Commit();
  return row;
}

bool CChunkStore::MarkStored(const std::string& id, const std::string& storageKey, int64_t size) {
  auto lock = db_.Lock();
  return db_.Run("UPDATE chunks SET stored = 1, size = ?3 WHERE md5 = ?1 AND storage_key = ?2", id, storageKey,
                 size) == 1;
}

void CChunkStore::ReleaseUnused(const std::vector<std::string>& ids) {
  CTransaction transaction(db_);
  for (const std::string& id : ids) {
    if (db_.IntOr(0, "SELECT 1 FROM entry_chunks WHERE md5 = ?1 LIMIT 1", id) ||
        db_.IntOr(0, "SELECT 1 FROM upload_chunks WHERE md5 = ?1 LIMIT 1", id)) {
      continue;
    }
    ChunkRow row;
    if (!Find(id, row)) continue;
    db_.Run("DELETE FROM chunks WHERE md5 = ?1", id);
    RemoveFileAfterCommit(row.storageKey);
  }
  transaction.Commit();
}

void CChunkStore::ReleaseAllUnused() {
  CTransaction transaction(db_);
  std::vector<std::string> ids;
  CStatement query = db_.Query("SELECT md5 FROM chunks");
  while (query.Step()) ids.push_back(query.Text(0));
  ReleaseUnused(ids);
  transaction.Commit();
}

bool CChunkStore::Readable(int64_t userId, const std::string& id) {
  auto lock = db_.Lock();
  return db_.IntOr(0,
                   "SELECT 1 FROM entry_chunks c JOIN entries e ON e.id = c.entry_id WHERE c.md5 = ?1 AND "
                   "(e.owner_id = ?2 OR EXISTS (SELECT 1 FROM shares s JOIN share_members m ON m.share_id = s.id "
                   "WHERE m.user_id = ?2 AND s.owner_id = e.owner_id AND "
                   "(e.path > s.folder || '/' AND e.path < s.folder || '0'))) LIMIT 1",
                   id, userId) != 0;
}

std::string CChunkStore::FilePath(const std::string& storageKey) const {
  return IsStorageKey(storageKey) ? folder_ + "/" + storageKey : "";
}

CChunkStore::Stored CChunkStore::StoreVerified(const ChunkRow& row, const std::vector<unsigned char>& bytes,
                                              std::string& error) {
  const std::string target = FilePath(row.storageKey);
  if (target.empty()) {
    error = "invalid storage key";
    return Stored::kDiskError;
  }
  const auto matches = [&] { return Md5Lower(bytes.data(), bytes.size()) == row.id; };
  // Hashing takes about as long as the disk takes to write a full chunk;
  // for small chunks a second thread costs more than it saves.
  std::future<bool> check = std::async(bytes.size() >= kCheckAsideFrom ? std::launch::async : std::launch::deferred,
                                       matches);
  const std::string temp = folder_ + "/" + kTempPrefix + row.storageKey + "-" + RandomHex(8);
  const int fd = OpenNew(temp);
  if (fd < 0) {
    const int failure = errno;
    error = "cannot create " + temp + ": " + std::strerror(failure);
    return Failed(failure);  // an asynchronous check ends before `check` is gone
  }
  const bool written = WriteChunkBytes(fd, bytes) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  if (!check.get()) {
    ::unlink(temp.c_str());
    return Stored::kWrongContent;
  }
  if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
    const int failure = written ? errno : savedErrno;
    error = "cannot write " + target + ": " + std::strerror(failure);
    ::unlink(temp.c_str());
    return Failed(failure);
  }
  return Stored::kOk;
}

bool CChunkStore::ReadFile(const std::string& storageKey, std::vector<unsigned char>& bytes) {
  const std::string path = FilePath(storageKey);
  if (path.empty()) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= 4194304;
  if (ok) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (ok && done < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      ok = got > 0;
      if (ok) done += static_cast<size_t>(got);
    }
  }
  ::close(fd);
  return ok;
}

void CChunkStore::RemoveFileAfterCommit(const std::string& storageKey) {
  const std::string path = FilePath(storageKey);
  if (!path.empty()) db_.AfterCommit([path] { ::unlink(path.c_str()); });
}
