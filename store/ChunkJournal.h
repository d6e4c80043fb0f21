#pragma once
// The chunk journal: every chunk the client has seen, by key, with its size,
// the transmitter's storage key and the block lists a later delta needs.
// Rows live in `chunk_journal_table` of client.db. Each public operation opens
// and closes the database itself, unless it runs inside a batch or on a
// borrowed connection. Used by the worker thread only.
#include <string>

#include "store/FileInfo.h"

struct sqlite3;

class CChunkJournal {
 public:
  CChunkJournal() = default;
  ~CChunkJournal();
  CChunkJournal(const CChunkJournal&) = delete;
  CChunkJournal& operator=(const CChunkJournal&) = delete;

  int Init(const std::string& dbPath);
  int OpenDB();
  void CloseDB();
  int CleanDB();

  // Records the chunks of a file; complete rows are kept (taking a storage
  // key the file brings when it differs), incomplete ones replaced. Single
  // chunk failures are logged, not returned.
  int AddFileChunk(const CFileInfo& file);
  // Rebuilds the file's chunks from its chunk list and fills them from the
  // journal (size, storage key, block lists).
  int GetFileChunk(CFileInfo& file);
  int UpdateStorageKey(const std::string& chunkKey, const std::string& storageKey);
  int Delete(const std::string& chunkKey);

  // Keeps the database open with one transaction until CommitBatch, so a run
  // of operations costs one open and one commit.
  int BeginBatch();
  int CommitBatch();

  // Runs the following operations on `db`, an open connection to the same
  // client.db held by another owner (the file journal inside its batch), so
  // they join that transaction instead of waiting out its write lock. Open
  // and close are skipped until ReleaseConnection, and the borrowed
  // connection is never closed here. 0 while a connection of this journal's
  // own is open.
  int UseConnection(sqlite3* db);
  void ReleaseConnection();

 private:
  int _Find(const std::string& key, CChunkInfo& chunk);
  int _Insert(const CChunkInfo& chunk);
  int _UpdateStorageKey(const std::string& chunkKey, const std::string& storageKey);
  int _Delete(const std::string& key);

  sqlite3* db_ = nullptr;
  std::string dbPath_;
  bool inBatch_ = false;
  bool borrowed_ = false;
};
