#include "service/Chunks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "service/Identifiers.h"

namespace {

constexpr const char* kTempPrefix = ".tmp-";

bool ReadRow(CStatement& row, ChunkRow& chunk) {
  if (!row.Step()) return false;
  chunk.id = row.Text(0);
  chunk.storageKey = row.Text(1);
  chunk.size = row.Int(2);
  chunk.stored = row.Int(3) != 0;
  return true;
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

bool CChunkStore::WriteFile(const std::string& storageKey, const std::vector<unsigned char>& bytes,
                            std::string& error) {
  const std::string target = FilePath(storageKey);
  if (target.empty()) {
    error = "invalid storage key";
    return false;
  }
  const std::string temp = folder_ + "/" + kTempPrefix + storageKey + "-" + RandomHex(8);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + temp + ": " + std::strerror(errno);
    return false;
  }
  const bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), target.c_str()) != 0) {
    error = "cannot write " + target + ": " + std::strerror(written ? errno : savedErrno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
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
