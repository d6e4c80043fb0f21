#include "store/ChunkJournal.h"

#include <sqlite3.h>

#include <cstdlib>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Sql.h"
#include "store/JournalDb.h"

namespace {

constexpr const char* kTable = "chunk_journal_table";
constexpr const char* kId = "id";
constexpr const char* kKey = "key";
constexpr const char* kSize = "size";
constexpr const char* kStorageId = "storage_id";
constexpr const char* kBlockSum = "block_sum";
constexpr const char* kBlockHash = "block_hash";
constexpr const char* kNeededBy = "needed_by";
constexpr const char* kDeleted = "deleted";

constexpr const char* kNotOpen = "DB is not open!";
constexpr const char* kOpenFailed = "Fail to open DB!";

void LogError(const char* function, const std::string& message) { LogText(CLogger::kError, function, message); }

// A complete row needs no rewrite: the upload found its storage key and the
// cutter its block lists.
bool IsComplete(const CChunkInfo& recorded, const CChunkInfo& chunk) {
  return !recorded.storageId.empty() && recorded.size == chunk.size && !recorded.blockSum.empty() &&
         !recorded.blockHash.empty();
}

// Opens the database for one public operation and closes it when the
// operation returns, unless a batch keeps it open.
class CChunkJournalOperation {
 public:
  CChunkJournalOperation(CChunkJournal& journal, bool inBatch) : journal_(journal), inBatch_(inBatch) {}
  ~CChunkJournalOperation() {
    if (opened_) journal_.CloseDB();
  }
  CChunkJournalOperation(const CChunkJournalOperation&) = delete;
  CChunkJournalOperation& operator=(const CChunkJournalOperation&) = delete;

  bool Open() {
    if (inBatch_) return true;
    opened_ = journal_.OpenDB() == 1;
    return opened_;
  }

 private:
  CChunkJournal& journal_;
  const bool inBatch_;
  bool opened_ = false;
};

}  // namespace

CChunkJournal::~CChunkJournal() { CloseDB(); }

int CChunkJournal::Init(const std::string& dbPath) {
  constexpr const char* kFunction = "CChunkJournal::Init";
  if (!JournalCheckNewPath(kFunction, dbPath, dbPath_)) return 0;
  dbPath_ = dbPath;
  if (!OpenDB()) {
    LogError(kFunction, kOpenFailed);
    return 0;
  }
  JournalCreateTable(db_,
                     StrFormat("CREATE TABLE %s (%s INTEGER primary key, %s TEXT not null unique,                   "
                               "%s INTEGER, %s TEXT,                   %s TEXT, %s TEXT,                   "
                               "%s TEXT, %s INTEGER);",
                               kTable, kId, kKey, kSize, kStorageId, kBlockSum, kBlockHash, kNeededBy, kDeleted),
                     kFunction);
  CloseDB();
  return 1;
}

int CChunkJournal::OpenDB() { return JournalOpen("CChunkJournal::OpenDB", dbPath_, db_); }

void CChunkJournal::CloseDB() {
  if (borrowed_) {
    db_ = nullptr;  // the owner closes it
    borrowed_ = false;
  } else {
    JournalClose(db_);
  }
  inBatch_ = false;
}

int CChunkJournal::CleanDB() {
  constexpr const char* kFunction = "CChunkJournal::CleanDB";
  CChunkJournalOperation operation(*this, inBatch_ || borrowed_);
  if (!operation.Open()) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  return JournalExec(db_, StrFormat("DELETE FROM %s", kTable), kFunction);
}

int CChunkJournal::AddFileChunk(const CFileInfo& file) {
  constexpr const char* kFunction = "CChunkJournal::AddFileChunk";
  if (file.dir != 0) {
    LogF(CLogger::kWarn, kFunction, "Can't get chunk from %s", file.path.c_str());
    return 1;
  }
  if (file.chunks.empty()) {
    LogF(CLogger::kWarn, kFunction, "Can't get any chunk from %s (%lld)", file.path.c_str(),
         static_cast<long long>(file.size));
    return 1;
  }
  CChunkJournalOperation operation(*this, inBatch_ || borrowed_);
  if (!operation.Open()) {
    LogError(kFunction, kOpenFailed);
    return 0;
  }
  for (const CChunkInfo& chunk : file.chunks) {
    CChunkInfo recorded;
    if (_Find(chunk.key, recorded)) {
      if (IsComplete(recorded, chunk)) {
        // The service files a chunk it had dropped under a new storage key
        // when the bytes come back; the key it gives now is the one that works.
        if (!chunk.storageId.empty() && chunk.storageId != recorded.storageId &&
            !_UpdateStorageKey(chunk.key, chunk.storageId)) {
          LogF(CLogger::kError, kFunction, "Fail to insert stroage key {%s} into chunk {%s}", chunk.storageId.c_str(),
               chunk.key.c_str());
        }
        continue;
      }
      if (!_Delete(chunk.key)) {
        LogF(CLogger::kError, kFunction, "Fail to delete chunk {%s} of file {%s} into DB", chunk.key.c_str(),
             file.path.c_str());
        continue;
      }
    }
    if (!_Insert(chunk)) {
      LogF(CLogger::kError, kFunction, "Fail to insert chunk {%s} of file {%s} into DB", chunk.key.c_str(),
           file.path.c_str());
    }
  }
  return 1;
}

int CChunkJournal::GetFileChunk(CFileInfo& file) {
  constexpr const char* kFunction = "CChunkJournal::GetFileChunk";
  if (file.dir != 0) {
    LogF(CLogger::kWarn, kFunction, "Can't get chunk from %s", file.path.c_str());
    return 1;
  }
  CChunkJournalOperation operation(*this, inBatch_ || borrowed_);
  if (!operation.Open()) {
    LogError(kFunction, kOpenFailed);
    return 0;
  }
  if (!file.ParseChunkList()) {
    LogF(CLogger::kError, kFunction, "Fail to parse chunk list {%s} of file {%s}", file.chunkList.c_str(),
         file.path.c_str());
    return 0;
  }
  for (CChunkInfo& chunk : file.chunks) {
    const std::string key = chunk.key;
    if (!_Find(key, chunk)) LogF(CLogger::kError, kFunction, "Can't find chunk {%s} from DB", key.c_str());
  }
  return 1;
}

int CChunkJournal::UpdateStorageKey(const std::string& chunkKey, const std::string& storageKey) {
  constexpr const char* kFunction = "CChunkJournal::UpdateStorageKey";
  CChunkJournalOperation operation(*this, inBatch_ || borrowed_);
  if (!operation.Open()) {
    LogError(kFunction, kOpenFailed);
    return 0;
  }
  CChunkInfo recorded;
  if (!_Find(chunkKey, recorded)) {
    LogF(CLogger::kError, kFunction, "Fail to find chunk {%s} from DB", chunkKey.c_str());
    return 0;
  }
  if (!_UpdateStorageKey(chunkKey, storageKey)) {
    LogF(CLogger::kError, kFunction, "Fail to insert stroage key {%s} into chunk {%s}", storageKey.c_str(),
         chunkKey.c_str());
    return 0;
  }
  return 1;
}

int CChunkJournal::Delete(const std::string& chunkKey) {
  constexpr const char* kFunction = "CChunkJournal::Delete";
  CChunkJournalOperation operation(*this, inBatch_ || borrowed_);
  if (!operation.Open()) {
    LogError(kFunction, "Fail to open DB");
    return 0;
  }
  if (_Delete(chunkKey)) return 1;
  LogError(kFunction, "Fail to delete a chunk info to DB");
  return 0;
}

int CChunkJournal::BeginBatch() {
  constexpr const char* kFunction = "CChunkJournal::BeginBatch";
  if (!OpenDB()) {
    LogError(kFunction, kOpenFailed);
    return 0;
  }
  if (!JournalBegin(db_, kFunction)) {
    CloseDB();
    return 0;
  }
  inBatch_ = true;
  return 1;
}

int CChunkJournal::CommitBatch() {
  constexpr const char* kFunction = "CChunkJournal::CommitBatch";
  if (!inBatch_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  const int ok = JournalCommit(db_, kFunction);
  CloseDB();
  return ok;
}

int CChunkJournal::UseConnection(sqlite3* db) {
  if (!db || (db_ && !borrowed_)) {
    LogError("CChunkJournal::UseConnection", "DB file opened before!");
    return 0;
  }
  db_ = db;
  borrowed_ = true;
  return 1;
}

void CChunkJournal::ReleaseConnection() {
  if (borrowed_) CloseDB();
}

// ---------------------------------------------------------------------------
// Statement helpers

int CChunkJournal::_Find(const std::string& key, CChunkInfo& chunk) {
  constexpr const char* kFunction = "CChunkJournal::_Find";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  CSqlTable table;
  std::string error;
  if (!table.Run(db_, StrFormat("SELECT * FROM %s WHERE %s='%s';", kTable, kKey, SqlEscape(key).c_str()), error)) {
    LogError(kFunction, "SQL error: " + error);
    return 0;
  }
  if (table.Rows() < 1) return 0;
  chunk.key = JournalText(table.At(0, 1));
  const char* size = table.At(0, 2);
  chunk.size = size ? static_cast<int32_t>(std::strtol(size, nullptr, 10)) : 0;
  chunk.storageId = JournalText(table.At(0, 3));
  chunk.blockSum = JournalText(table.At(0, 4));
  chunk.blockHash = JournalText(table.At(0, 5));
  return 1;
}

int CChunkJournal::_Insert(const CChunkInfo& chunk) {
  constexpr const char* kFunction = "CChunkJournal::_Insert";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  return JournalExec(db_,
                     StrFormat("INSERT INTO %s (%s, %s, %s, %s, %s) VALUES('%s', %d, '%s', '%s', '%s')", kTable, kKey,
                               kSize, kStorageId, kBlockSum, kBlockHash, SqlEscape(chunk.key).c_str(), chunk.size,
                               SqlEscape(chunk.storageId).c_str(), SqlEscape(chunk.blockSum).c_str(),
                               SqlEscape(chunk.blockHash).c_str()),
                     kFunction);
}

int CChunkJournal::_UpdateStorageKey(const std::string& chunkKey, const std::string& storageKey) {
  constexpr const char* kFunction = "CChunkJournal::_UpdateStorageKey";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  return JournalExec(db_,
                     StrFormat("UPDATE  %s SET %s = '%s' WHERE %s = '%s'", kTable, kStorageId,
                               SqlEscape(storageKey).c_str(), kKey, SqlEscape(chunkKey).c_str()),
                     kFunction);
}

int CChunkJournal::_Delete(const std::string& key) {
  constexpr const char* kFunction = "CChunkJournal::_Delete";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  return JournalExec(db_, StrFormat("DELETE FROM %s WHERE %s='%s';", kTable, kKey, SqlEscape(key).c_str()),
                     kFunction);
}
