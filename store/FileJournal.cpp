#include "store/FileJournal.h"

#include <sqlite3.h>

#include <cstdlib>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Sql.h"
#include "foundation/Util.h"
#include "platform/CodePage.h"
#include "store/JournalDb.h"

namespace {

constexpr const char* kTable = "file_journal_table";
constexpr const char* kId = "id";
constexpr const char* kServerPath = "server_path";
constexpr const char* kOnDisk = "on_disk";

// The five columns of one version, and the first of them in "SELECT *".
struct VersionColumns {
  const char* path;
  const char* chunkList;
  const char* mtime;
  const char* size;
  const char* dir;
  int first;
};
// "actvie_mtime" is the name every existing client.db carries.
constexpr VersionColumns kActive{"active_server_path", "active_chunklist", "actvie_mtime", "active_size",
                                 "active_dir", 2};
constexpr VersionColumns kUpdated{"updated_server_path", "updated_chunklist", "updated_mtime", "updated_size",
                                  "updated_dir", 7};
constexpr int kServerPathColumn = 1;
constexpr int kOnDiskColumn = 12;

constexpr const char* kNotOpen = "DB is not open!";

void LogError(const char* function, const std::string& message) { LogText(CLogger::kError, function, message); }

// A local text as it stands between quotes in a statement: UTF-8, quotes doubled.
std::string SqlText(const std::string& local) {
  std::string utf8 = local;
  CUtil::AnsiToUtf8(utf8);
  return SqlEscape(utf8);
}

// A key prefix for "LIKE '<prefix>%' ESCAPE '\'": the prefix matches only
// itself, so "my_docs" never matches "myxdocs".
std::string LikePrefix(const std::string& localKey) {
  std::string utf8 = localKey;
  CUtil::AnsiToUtf8(utf8);
  std::string escaped;
  escaped.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\\' || c == '%' || c == '_') escaped += '\\';
    escaped += c;
  }
  return SqlEscape(escaped);
}

std::string LocalText(const char* utf8) {
  std::string text = JournalText(utf8);
  CUtil::Utf8ToAnsi(text);
  return text;
}

int64_t ToInt64(const char* value) { return value ? std::strtoll(value, nullptr, 10) : 0; }
int32_t ToInt32(const char* value) { return static_cast<int32_t>(ToInt64(value)); }

// One version of a result row. Unless `always`, an empty path leaves the
// other fields unread (an empty version).
CFileInfo ReadVersion(const CSqlTable& table, int row, const VersionColumns& columns, bool always) {
  CFileInfo version(LocalText(table.At(row, columns.first)));
  if (version.path.empty() && !always) return version;
  version.chunkList = JournalText(table.At(row, columns.first + 1));
  version.mtime = ToInt64(table.At(row, columns.first + 2));
  version.size = ToInt64(table.At(row, columns.first + 3));
  version.dir = ToInt32(table.At(row, columns.first + 4));
  return version;
}

CFileItem ReadItem(const CSqlTable& table, int row, bool bothVersions) {
  CFileItem item;
  item.onDisk = ToInt32(table.At(row, kOnDiskColumn));
  item.serverPath = LocalText(table.At(row, kServerPathColumn));
  item.active = ReadVersion(table, row, kActive, bothVersions);
  item.updated = ReadVersion(table, row, kUpdated, bothVersions);
  return item;
}

// Runs two statements as one unit: both take effect or neither. A savepoint
// nests inside the transaction of a batch.
int ExecBoth(sqlite3* db, const char* function, const std::string& first, const std::string& second) {
  if (!JournalExec(db, "SAVEPOINT journal_unit", function)) return 0;
  const int ok = JournalExec(db, first, function) && JournalExec(db, second, function);
  if (!ok) JournalExec(db, "ROLLBACK TO journal_unit", function);
  JournalExec(db, "RELEASE journal_unit", function);
  return ok;
}

}  // namespace

CFileJournal::~CFileJournal() { JournalClose(db_); }

std::string CFileJournal::ToKey(const std::string& path) {
  const bool doubleByte = !platform::LocalCodePageIsUtf8();
  std::string key = path;
  for (size_t i = 0; i < key.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(key[i]);
    if (c >= 0x80) {
      if (doubleByte) ++i;  // GBK trail bytes include 'A'..'Z'
    } else if (c >= 'A' && c <= 'Z') {
      key[i] = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

// ---------------------------------------------------------------------------
// Set-up and whole-table operations

int CFileJournal::Init(const std::string& dbPath) {
  constexpr const char* kFunction = "CFileJournal::Init";
  if (!JournalCheckNewPath(kFunction, dbPath, dbPath_)) return 0;
  dbPath_ = dbPath;
  if (!OpenDB()) return 1;  // OpenDB has logged why; the next open tries again
  JournalCreateTable(db_,
                     StrFormat("CREATE TABLE %s (%s INTEGER primary key, %s TEXT not null unique,                    "
                               "%s TEXT, %s TEXT, %s INTEGER, %s INTEGER, %s INTEGER,                    "
                               "%s TEXT, %s TEXT, %s INTEGER, %s INTEGER, %s INTEGER, %s INTEGER);",
                               kTable, kId, kServerPath, kActive.path, kActive.chunkList, kActive.mtime, kActive.size,
                               kActive.dir, kUpdated.path, kUpdated.chunkList, kUpdated.mtime, kUpdated.size,
                               kUpdated.dir, kOnDisk),
                     kFunction);
  CloseDB();
  return 1;
}

int CFileJournal::OpenDB() {
  constexpr const char* kFunction = "CFileJournal::OpenDB";
  if (!JournalOpen(kFunction, dbPath_, db_)) return 0;
  LogText(CLogger::kDebug, kFunction, "======");
  return 1;
}

void CFileJournal::CloseDB() {
  JournalClose(db_);
  LogText(CLogger::kDebug, "CFileJournal::CloseDB", "------");
}

int CFileJournal::CleanDB() {
  constexpr const char* kFunction = "CFileJournal::CleanDB";
  if (!OpenDB()) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  journal_.clear();
  forward_ = journal_.cend();
  backward_ = journal_.crend();
  const int ok = JournalExec(db_, StrFormat("DELETE FROM %s", kTable), kFunction);
  CloseDB();
  return ok;
}

int CFileJournal::LoadMap() {
  constexpr const char* kFunction = "CFileJournal::LoadMap";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  journal_.clear();
  forward_ = journal_.cend();
  backward_ = journal_.crend();
  CSqlTable table;
  std::string error;
  if (!table.Run(db_, StrFormat("SELECT * FROM %s", kTable), error)) {
    LogError(kFunction, "SQL error: " + error);
    return 0;
  }
  LogText(CLogger::kDebug, kFunction, "--------------------- DB filesystem ------------------------");
  for (int row = 0; row < table.Rows(); ++row) {
    CFileItem item = ReadItem(table, row, true);
    LogF(CLogger::kDebug, kFunction, "DB FS: %s", item.serverPath.c_str());
    journal_.emplace(item.serverPath, std::move(item));
  }
  LogText(CLogger::kDebug, kFunction, "------------------------------------------------------------");
  // Inserting moved begin(), so the cursors are set on the filled map.
  forward_ = journal_.cend();
  backward_ = journal_.crend();
  return 1;
}

int CFileJournal::BeginBatch() {
  if (!db_) {
    LogError("CFileJournal::BeginBatch", kNotOpen);
    return 0;
  }
  return JournalBegin(db_, "CFileJournal::BeginBatch");
}

int CFileJournal::CommitBatch() {
  if (!db_) {
    LogError("CFileJournal::CommitBatch", kNotOpen);
    return 0;
  }
  return JournalCommit(db_, "CFileJournal::CommitBatch");
}

// ---------------------------------------------------------------------------
// Statement helpers

int CFileJournal::_GetItem(const std::string& key, CFileItem& item) {
  constexpr const char* kFunction = "CFileJournal::_GetItem";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  CSqlTable table;
  std::string error;
  if (!table.Run(db_, StrFormat("SELECT * FROM %s WHERE %s='%s';", kTable, kServerPath, SqlText(key).c_str()),
                 error)) {
    LogError(kFunction, "SQL error: " + error);
    return 0;
  }
  if (table.Rows() < 1) return 0;
  item = ReadItem(table, 0, false);
  return 1;
}

int CFileJournal::_AddItem(const std::string& key, const CFileItem& item) {
  constexpr const char* kFunction = "CFileJournal::_AddItem";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  if (item.active.path.empty() && item.updated.path.empty()) {
    LogF(CLogger::kError, kFunction, "Fail to insert for both NULL actvie {%s} and update {%s}",
         item.active.path.c_str(), item.updated.path.c_str());
    return 0;
  }
  // A row starts with one version: the active one when there is one.
  const bool hasActive = !item.active.path.empty();
  const VersionColumns& columns = hasActive ? kActive : kUpdated;
  const CFileInfo& version = hasActive ? item.active : item.updated;
  const std::string sql =
      StrFormat("INSERT INTO %s (%s, %s, %s, %s, %s, %s, %s) VALUES('%s', '%s', '%s', %lld, %lld, %d, %d)", kTable,
                kServerPath, columns.path, columns.chunkList, columns.mtime, columns.size, columns.dir, kOnDisk,
                SqlText(key).c_str(), SqlText(version.path).c_str(), SqlEscape(version.chunkList).c_str(),
                static_cast<long long>(version.mtime), static_cast<long long>(version.size), version.dir,
                item.onDisk);
  return JournalExec(db_, sql, kFunction);
}

int CFileJournal::_SetItem(const std::string& key, const CFileItem& item) {
  constexpr const char* kFunction = "CFileJournal::_SetItem";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  const CFileInfo& a = item.active;
  const CFileInfo& u = item.updated;
  const std::string sql = StrFormat(
      "UPDATE %s SET %s='%s', %s='%s', %s=%lld, %s=%lld, %s=%d,                                  "
      "%s='%s', %s='%s', %s=%lld, %s=%lld, %s=%d, %s=%d WHERE %s='%s';",
      kTable, kActive.path, SqlText(a.path).c_str(), kActive.chunkList, SqlEscape(a.chunkList).c_str(),
      kActive.mtime, static_cast<long long>(a.mtime), kActive.size, static_cast<long long>(a.size), kActive.dir,
      a.dir, kUpdated.path, SqlText(u.path).c_str(), kUpdated.chunkList, SqlEscape(u.chunkList).c_str(),
      kUpdated.mtime, static_cast<long long>(u.mtime), kUpdated.size, static_cast<long long>(u.size),
      kUpdated.dir, u.dir, kOnDisk, item.onDisk, kServerPath, SqlText(key).c_str());
  return JournalExec(db_, sql, kFunction);
}

int CFileJournal::_DelItem(const std::string& key) {
  constexpr const char* kFunction = "CFileJournal::_DelItem";
  if (!db_) {
    LogError(kFunction, "{CFileJournal::GetValuebyKey} DB is not open!");
    return 0;
  }
  CFileItem existing;
  if (!_GetItem(key, existing)) return 0;
  return JournalExec(db_, StrFormat("DELETE FROM %s WHERE %s='%s';", kTable, kServerPath, SqlText(key).c_str()),
                     kFunction);
}

int CFileJournal::_DelAllItem(const std::string& keyPrefix) {
  constexpr const char* kFunction = "CFileJournal::_DelAllItem";
  if (!db_) {
    LogError(kFunction, "{CFileJournal::GetValuebyKey} DB is not open!");
    return 0;
  }
  return JournalExec(db_,
                     StrFormat("DELETE FROM %s WHERE %s like '%s%%' ESCAPE '\\';", kTable, kServerPath,
                               LikePrefix(keyPrefix).c_str()),
                     kFunction);
}

// ---------------------------------------------------------------------------
// Row operations

int CFileJournal::AddActive(const CFileInfo& info) {
  constexpr const char* kFunction = "CFileJournal::AddActive";
  const std::string key = ToKey(info.path);
  CFileItem item;
  const bool exists = _GetItem(key, item);
  if (exists) LogF(CLogger::kWarn, kFunction, "Duplicated adding (%s)", key.c_str());
  item.serverPath = key;
  item.active = info;
  item.updated = CFileInfo();
  item.onDisk = 1;
  if (exists ? _SetItem(key, item) : _AddItem(key, item)) return 1;
  LogF(CLogger::kError, kFunction, exists ? "Fail to set item(key:%s)" : "Fail to add item(key:%s)", key.c_str());
  return 0;
}

int CFileJournal::AddUpdated(const CFileInfo& info) {
  constexpr const char* kFunction = "CFileJournal::AddUpdated";
  const std::string key = ToKey(info.path);
  CFileItem item;
  const bool exists = _GetItem(key, item);
  if (exists) LogF(CLogger::kWarn, kFunction, "Duplicated adding (%s)", key.c_str());
  item.serverPath = key;
  item.updated = info;
  item.onDisk = 0;
  if (exists ? _SetItem(key, item) : _AddItem(key, item)) return 1;
  LogF(CLogger::kError, kFunction, exists ? "Fail to set item(key:%s)" : "Fail to add item(key:%s)", key.c_str());
  return 0;
}

int CFileJournal::RemoveActive(const std::string& key) {
  constexpr const char* kFunction = "CFileJournal::RemoveActive";
  const std::string lower = ToKey(key);
  CFileItem item;
  if (!_GetItem(lower, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(%s)", lower.c_str());
    return 0;
  }
  if (item.updated.path.empty()) {
    LogF(CLogger::kError, kFunction, "Fail to remov (%s) for NO updated", lower.c_str());
    return 0;
  }
  item.active = CFileInfo();
  item.onDisk = 0;
  if (_SetItem(lower, item)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to set item(%s)", lower.c_str());
  return 0;
}

int CFileJournal::Modify(const CFileInfo& info) {
  constexpr const char* kFunction = "CFileJournal::Modify";
  const std::string key = ToKey(info.path);
  CFileItem item;
  if (!_GetItem(key, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(%s)", key.c_str());
    return 0;
  }
  (item.onDisk == 1 ? item.active : item.updated) = info;
  if (_SetItem(key, item)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to set item(%s)", key.c_str());
  return 0;
}

int CFileJournal::OnDisk(const std::string& key) {
  constexpr const char* kFunction = "CFileJournal::OnDisk";
  const std::string lower = ToKey(key);
  CFileItem item;
  if (!_GetItem(lower, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(key:%s)", lower.c_str());
    return 0;
  }
  LogF(CLogger::kInfo, kFunction, "Ondisk a file: %s(%d, %lld, %lld -> %d, %lld, %lld)", key.c_str(),
       item.updated.dir, static_cast<long long>(item.updated.size), static_cast<long long>(item.updated.mtime),
       item.active.dir, static_cast<long long>(item.active.size), static_cast<long long>(item.active.mtime));
  if (item.onDisk == 1 || item.updated.path.empty()) {
    LogF(CLogger::kError, kFunction, "Error item (key:%s)", lower.c_str());
    return 0;
  }
  item.active = item.updated;
  item.updated = CFileInfo();
  item.onDisk = 1;
  if (_SetItem(lower, item)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to set item(key:%s)", lower.c_str());
  return 0;
}

int CFileJournal::MarkRemove(const std::string& key) {
  constexpr const char* kFunction = "CFileJournal::MarkRemove";
  const std::string lower = ToKey(key);
  CFileItem item;
  if (!_GetItem(lower, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(key:%s)", lower.c_str());
    return 0;
  }
  if (item.onDisk != 1) {
    // A row not yet applied may already be on disk: a pass cut short (a
    // crash, a logout) can have brought its version in or kept its old one
    // without recording it. Deleting the row would make that file read as
    // a new local one, sent back to the service; it becomes (or stays) a
    // removal instead, which the download phase applies.
    if (item.updated.mtime < 0) return 1;
    if (item.updated.mtime > 0) {
      item.updated.mtime = -item.updated.mtime;
    } else if (item.active.mtime > 0) {
      item.updated = item.active;
      item.updated.mtime = -item.active.mtime;
    } else {
      if (_DelItem(lower)) return 1;
      LogF(CLogger::kError, kFunction, "Fail to del item(key:%s)", lower.c_str());
      return 0;
    }
    if (_SetItem(lower, item)) return 1;
    LogF(CLogger::kError, kFunction, "Fail to set item(key:%s)", lower.c_str());
    return 0;
  }
  if (item.active.mtime <= 0) return 1;  // nothing known to remove against
  item.updated = item.active;
  item.updated.mtime = -item.active.mtime;
  item.onDisk = 0;
  if (_SetItem(lower, item)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to set item(key:%s)", lower.c_str());
  return 0;
}

int CFileJournal::Remove(const std::string& key) {
  constexpr const char* kFunction = "CFileJournal::Remove";
  const std::string lower = ToKey(key);
  CFileItem item;
  if (!_GetItem(lower, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(key:%s)", lower.c_str());
    return 0;
  }
  if (_DelItem(lower)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to del item(key:%s)", lower.c_str());
  return 0;
}

int CFileJournal::RemoveAll(const std::string& keyPrefix) {
  const std::string lower = ToKey(keyPrefix);
  _DelAllItem(lower);
  LogF(CLogger::kInfo, "CFileJournal::RemoveAll", "Remove all item like key: %s from DB", lower.c_str());
  return 1;
}

int CFileJournal::Rename(const std::string& oldKey, const std::string& newServerPath) {
  constexpr const char* kFunction = "CFileJournal::Rename";
  const std::string lower = ToKey(oldKey);
  CFileItem item;
  if (!_GetItem(lower, item)) {
    LogF(CLogger::kError, kFunction, "Fail to get item(key:%s)", lower.c_str());
    return 0;
  }
  if (!_DelItem(lower)) {
    LogF(CLogger::kError, kFunction, "Fail to del item(key:%s)", lower.c_str());
    return 0;
  }
  (item.onDisk == 1 ? item.active : item.updated).path = newServerPath;
  item.serverPath = ToKey(newServerPath);
  if (_AddItem(item.serverPath, item)) return 1;
  LogF(CLogger::kError, kFunction, "Fail to set item(key:%s)", item.serverPath.c_str());
  return 0;
}

int CFileJournal::RenameFolder(const std::string& oldFolder, const std::string& newFolder) {
  constexpr const char* kFunction = "CFileJournal::RenameFolder";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  // Keys stay lower-case; the active path keeps the new name's letter case.
  const std::string oldKey = SqlText(ToKey(oldFolder));
  const std::string newKey = SqlText(ToKey(newFolder));
  const std::string oldPath = SqlText(oldFolder);
  const std::string newPath = SqlText(newFolder);
  const std::string below = StrFormat(
      "UPDATE %s SET %s='%s'||SUBSTR(%s,length('%s')+1),%s='%s'||SUBSTR(%s,length('%s')+1) WHERE %s LIKE '%s/%%' "
      "ESCAPE '\\';",
      kTable, kServerPath, newKey.c_str(), kServerPath, oldKey.c_str(), kActive.path, newPath.c_str(), kActive.path,
      oldPath.c_str(), kServerPath, LikePrefix(ToKey(oldFolder)).c_str());
  const std::string own = StrFormat("UPDATE %s SET %s='%s',%s='%s' WHERE %s='%s';", kTable, kServerPath,
                                    newKey.c_str(), kActive.path, newPath.c_str(), kServerPath, oldKey.c_str());
  // A failure of the second statement must not leave the folder's entries
  // moved without the folder.
  return ExecBoth(db_, kFunction, below, own);
}

// ---------------------------------------------------------------------------
// Queries on the map

int CFileJournal::FindItem(const std::string& key, CFileItem& item) const {
  const auto found = journal_.find(ToKey(key));
  if (found == journal_.end()) return 0;
  item = found->second;
  return 1;
}

int CFileJournal::FindSameFile(const CFileInfo& info, CFileItem& item) const {
  for (const auto& [key, entry] : journal_) {
    const CFileInfo& active = entry.active;
    if (entry.onDisk == 1 && active.dir == 0 && active.size > 0 && active.size == info.size &&
        active.chunkList == info.chunkList) {
      item = entry;
      return 1;
    }
  }
  return 0;
}

int CFileJournal::FirstItem(CFileItem& item) {
  forward_ = journal_.cbegin();
  if (forward_ == journal_.cend()) return 0;
  item = forward_->second;
  return 1;
}

int CFileJournal::NextItem(CFileItem& item) {
  if (forward_ == journal_.cend() || ++forward_ == journal_.cend()) return 0;
  item = forward_->second;
  return 1;
}

int CFileJournal::LastItem(CFileItem& item) {
  backward_ = journal_.crbegin();
  if (backward_ == journal_.crend()) return 0;
  item = backward_->second;
  return 1;
}

int CFileJournal::PrevItem(CFileItem& item) {
  if (backward_ == journal_.crend() || ++backward_ == journal_.crend()) return 0;
  item = backward_->second;
  return 1;
}

// ---------------------------------------------------------------------------
// Server root, path conversions and share maps

int CFileJournal::SetServerRoot(const std::string& root) {
  if (root.empty()) return 0;
  serverRoot_ = root;
  return 1;
}

int CFileJournal::ParseServerPath(const std::string& serverPath, std::string& root, std::string& rest) const {
  const size_t slash = serverPath.find('/');
  if (slash == std::string::npos || slash == 0) {
    LogF(CLogger::kError, "CFileJournal::ParseServerPath", "Fail to parse server file: %s", serverPath.c_str());
    return 0;
  }
  root = serverPath.substr(0, slash);
  rest = serverPath.substr(slash);
  return 1;
}

int CFileJournal::TrimDBServerPah(std::string& path) const {
  constexpr const char* kFunction = "CFileJournal::TrimDBServerPah";
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (path.empty() || serverRoot_.empty()) return 0;
  const size_t slash = path.find('/');
  if (slash == std::string::npos) {
    LogF(CLogger::kInfo, kFunction, "Fail to get server root %s for file: %s", serverRoot_.c_str(), path.c_str());
    return 0;
  }
  const std::string root = path.substr(0, slash);
  const std::string rest = path.substr(slash);
  if (root == serverRoot_) {
    path = rest;
    return 1;
  }
  const auto share = dbShareMap_.find(root);
  if (share == dbShareMap_.end()) {
    LogF(CLogger::kInfo, kFunction, "Fail to get share folder: %s", root.c_str());
    return 0;
  }
  // The shared folder's own server path begins with the server root.
  const std::string full = share->second + rest;
  const size_t rootEnd = full.find('/');
  if (rootEnd == std::string::npos) {
    LogF(CLogger::kError, kFunction, "Fail to get server root %s for file: %s", serverRoot_.c_str(), full.c_str());
    return 0;
  }
  path = full.substr(rootEnd);
  return 1;
}

namespace {

// Root-relative path -> server path: the server root in front, then the
// path of a shared folder below it replaced by the folder's id.
int MakeServerPathWith(const std::string& serverRoot, const std::map<std::string, std::string>& shares,
                       std::string& path) {
  if (serverRoot.empty()) return 0;
  path = path.empty() || path[0] != '/' ? StrFormat("%s/%s", serverRoot.c_str(), path.c_str()) : serverRoot + path;
  for (const auto& [id, folder] : shares) {
    // "R/from Ann/x" is below "R/from Ann"; "R/from Anna/y" and the folder itself are not.
    if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/') {
      path = id + path.substr(folder.size());
    }
  }
  return 1;
}

}  // namespace

int CFileJournal::MakeServerPath(std::string& path) const {
  return MakeServerPathWith(serverRoot_, serverShareMap_, path);
}

int CFileJournal::MakeDBServerPath(std::string& path) const {
  return MakeServerPathWith(serverRoot_, dbShareMap_, path);
}

int CFileJournal::LoadDBShareMap() {
  constexpr const char* kFunction = "CFileJournal::LoadDBShareMap";
  if (!db_) {
    LogError(kFunction, kNotOpen);
    return 0;
  }
  dbShareMap_.clear();
  CSqlTable table;
  std::string error;
  const std::string sql =
      StrFormat("SELECT %s, %s, %s, %s, %s FROM %s WHERE %s > 1 or %s > 1", kActive.dir, kActive.path, kUpdated.dir,
                kUpdated.path, kOnDisk, kTable, kActive.dir, kUpdated.dir);
  if (!table.Run(db_, sql, error)) {
    LogError(kFunction, "SQL error: " + error);
    return 0;
  }
  for (int row = 0; row < table.Rows(); ++row) {
    const bool pending = JournalText(table.At(row, 4)) == "0";
    const int first = pending ? 2 : 0;  // (dir, path) of the version that counts
    // Only a share id (above 1) may stand for a folder path: the version that
    // counts can be a plain folder while the other one was shared.
    if (ToInt64(table.At(row, first)) <= 1) continue;
    dbShareMap_.emplace(JournalText(table.At(row, first)), LocalText(table.At(row, first + 1)));
  }
  return 1;
}

int CFileJournal::FindDBShare(const std::string& id, std::string& path) const {
  if (id.empty()) return 0;
  const auto found = dbShareMap_.find(id);
  if (found == dbShareMap_.end()) return 0;
  path = found->second;
  return 1;
}

void CFileJournal::SetDBShare(const std::string& id, const std::string& path) { dbShareMap_[id] = path; }

void CFileJournal::EraseDBShare(const std::string& id) {
  if (!id.empty()) dbShareMap_.erase(id);
}

void CFileJournal::ClearServerShares() { serverShareMap_.clear(); }

void CFileJournal::AddServerShare(const std::string& id, const std::string& serverPath) {
  if (!id.empty() && !serverPath.empty()) serverShareMap_.emplace(id, serverPath);
}

void CFileJournal::AddShareOwner(const std::string& id, const std::string& owner) {
  if (!id.empty() && !owner.empty()) shareOwnerMap_.emplace(id, owner);
}

int CFileJournal::FindShareOwner(const std::string& id, std::string& owner) const {
  if (id.empty()) return 0;
  const auto found = shareOwnerMap_.find(id);
  if (found == shareOwnerMap_.end()) return 0;
  owner = found->second;
  return 1;
}

void CFileJournal::ClearShareIds() { shareIdSet_.clear(); }

int CFileJournal::AddShareId(int64_t folderId) {
  if (folderId < 2) return 0;
  shareIdSet_.emplace(std::to_string(folderId), std::string());
  return 1;
}

int CFileJournal::IsInSharedFolder(const std::string& serverPath) const {
  std::string root;
  std::string rest;
  return ParseServerPath(serverPath, root, rest) && shareIdSet_.count(root) ? 1 : 0;
}
