#pragma once
// The file journal: for every synchronised path, the version on the local disk
// (active) and a known server version not yet applied (updated, or a removal
// when its mtime is negative). Rows live in `file_journal_table` of client.db
// (text in UTF-8 there, in the local code page here); LoadMap takes a snapshot
// of the table into memory for the sync engine's walks. The same object maps
// server paths to root-relative paths through the server root and the share
// maps. Used by the worker thread only.
#include <cstdint>
#include <map>
#include <string>

#include "store/FileInfo.h"

struct sqlite3;

// One journal row in memory.
struct CFileItem {
  std::string serverPath;  // the key: lower-case server path
  CFileInfo active;        // its path is the server path with letter case
  CFileInfo updated;
  int32_t onDisk = 0;
};

class CFileJournal {
 public:
  CFileJournal() = default;
  ~CFileJournal();
  CFileJournal(const CFileJournal&) = delete;
  CFileJournal& operator=(const CFileJournal&) = delete;

  // The journal key of a path: ASCII letters lowered, nothing else touched
  // (SQLite's LIKE folds the same letters). In a double-byte local code page
  // the byte after a lead byte (>= 0x80) belongs to its character and is kept.
  static std::string ToKey(const std::string& path);

  // ---- set-up and whole-table operations (1 success, 0 failure) ----

  // Keeps the path and creates the table (client.db is put in WAL mode).
  int Init(const std::string& dbPath);
  int OpenDB();
  void CloseDB();
  // Empties the map and the table (opens and closes the database itself).
  int CleanDB();
  // Fills the journal map from the table.
  int LoadMap();

  // Groups the row operations between them into one transaction, so a run of
  // thousands of rows costs one commit. Needs the open database. Rows written
  // before a failed CommitBatch are rolled back. From its first write on, a
  // batch holds client.db's write lock: writes of another connection (the
  // chunk journal's) wait for the commit, up to the busy timeout.
  int BeginBatch();
  int CommitBatch();
  // The open connection (null when closed), for a chunk journal that joins
  // the batch (CChunkJournal::UseConnection).
  sqlite3* Connection() const { return db_; }

  // ---- row operations (keys are lower-cased first) ----

  int AddActive(const CFileInfo& info);
  int AddUpdated(const CFileInfo& info);
  int RemoveActive(const std::string& key);
  int Modify(const CFileInfo& info);
  int OnDisk(const std::string& key);
  // An in-sync row becomes a pending removal (its active version with the
  // time negated); a row not on disk becomes one too (its updated version,
  // else its active one, negated) and stays one. Only a row without any
  // version to remove against is deleted.
  int MarkRemove(const std::string& key);
  int Remove(const std::string& key);
  int RemoveAll(const std::string& keyPrefix);
  int Rename(const std::string& oldKey, const std::string& newServerPath);
  int RenameFolder(const std::string& oldFolder, const std::string& newFolder);

  // ---- queries on the map of the last LoadMap ----

  int FindItem(const std::string& key, CFileItem& item) const;
  int FindSameFile(const CFileInfo& info, CFileItem& item) const;
  int FirstItem(CFileItem& item);  // ascending key order
  int NextItem(CFileItem& item);
  int LastItem(CFileItem& item);  // descending: entries below a folder before the folder
  int PrevItem(CFileItem& item);

  // ---- server root, path conversions and share maps ----

  int SetServerRoot(const std::string& root);
  const std::string& GetServerRoot() const { return serverRoot_; }
  int ParseServerPath(const std::string& serverPath, std::string& root, std::string& rest) const;
  // Server path -> root-relative path ("R/docs/a.txt" -> "/docs/a.txt").
  int TrimDBServerPah(std::string& path) const;
  // Root-relative path -> server path, with the server's / the journal's shares.
  int MakeServerPath(std::string& path) const;
  int MakeDBServerPath(std::string& path) const;
  int LoadDBShareMap();
  int FindDBShare(const std::string& id, std::string& path) const;
  void SetDBShare(const std::string& id, const std::string& path);
  void EraseDBShare(const std::string& id);
  void ClearServerShares();
  void AddServerShare(const std::string& id, const std::string& serverPath);
  void AddShareOwner(const std::string& id, const std::string& owner);
  int FindShareOwner(const std::string& id, std::string& owner) const;
  void ClearShareIds();
  int AddShareId(int64_t folderId);
  int IsInSharedFolder(const std::string& serverPath) const;

 private:
  // Statement helpers on the open database.
  int _GetItem(const std::string& key, CFileItem& item);
  int _AddItem(const std::string& key, const CFileItem& item);
  int _SetItem(const std::string& key, const CFileItem& item);
  int _DelItem(const std::string& key);
  int _DelAllItem(const std::string& keyPrefix);

  sqlite3* db_ = nullptr;
  std::string dbPath_;
  std::map<std::string, CFileItem> journal_;
  // Both cursors are reset whenever the map is refilled or emptied.
  std::map<std::string, CFileItem>::const_iterator forward_ = journal_.cend();
  std::map<std::string, CFileItem>::const_reverse_iterator backward_ = journal_.crend();

  std::string serverRoot_;
  std::map<std::string, std::string> dbShareMap_;
  std::map<std::string, std::string> serverShareMap_;
  std::map<std::string, std::string> shareOwnerMap_;
  std::map<std::string, std::string> shareIdSet_;
};
