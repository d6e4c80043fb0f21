#pragma once
// Pieces the parts of CWork share; not part of its contract.
#include <string>

#include "foundation/Util.h"
#include "protocol/Back.h"
#include "protocol/Transmitter.h"

class CChunkJournal;
class CFileJournal;

// The service clients as the engine holds them: the host id can be given
// after the computer's registration, and a call in flight can be ended from
// another thread when the engine is destroyed.
class CWorkBack : public CBack {
 public:
  using CSoapFrame::AbortCall;
  void SetHostId(const std::string& hostId) { hostId_ = hostId; }
};

class CWorkTransmitter : public CTransmitter {
 public:
  using CSoapFrame::AbortCall;
  void SetHostId(const std::string& hostId) { hostId_ = hostId; }
};

// The file journal open for one phase. After BeginBatch the phase's row
// writes, and the chunk journal's on the same connection, are one
// transaction. Closing commits first: every row written records a step
// already taken on disk, so it is kept even when the phase stops early.
class CJournalSession {
 public:
  CJournalSession(CFileJournal& files, CChunkJournal& chunks) : files_(files), chunks_(chunks) {}
  ~CJournalSession() { Close(); }
  CJournalSession(const CJournalSession&) = delete;
  CJournalSession& operator=(const CJournalSession&) = delete;

  int Open();  // CFileJournal::OpenDB
  // Without a batch (BEGIN failed) the rows are written one by one.
  void BeginBatch();
  // Commits what the batch holds and goes on in a new one.
  void Checkpoint();
  void Close();

 private:
  void EndBatch();

  CFileJournal& files_;
  CChunkJournal& chunks_;
  bool open_ = false;
  bool batch_ = false;
};

class CFileCache;

// Whether the folder (relative to the user folder) holds anything of the
// user's besides the client's own marker, icon and temporary files. A folder
// that cannot be listed counts as holding something.
bool FolderHoldsUserEntries(const CFileCache& cache, const std::string& rel);

// The folder of a root-relative path ("/docs/a.txt" -> "/docs"; "" for an
// entry directly in the root).
inline std::string ParentFolder(const std::string& rel) {
  const std::size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

// Whether `path` is `folder` or lies below it (a prefix on a "/" boundary).
inline bool IsAtOrBelow(const std::string& folder, const std::string& path) {
  return path.compare(0, folder.size(), folder) == 0 && (path.size() == folder.size() || path[folder.size()] == '/');
}

// A text of the user interface (UTF-8 in the source) in the local code page.
inline std::string LocalText(const char* utf8) {
  std::string text = utf8;
  CUtil::Utf8ToAnsi(text);
  return text;
}
