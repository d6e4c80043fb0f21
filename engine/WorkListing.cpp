// CWork: the listing phase. The server's whole tree is fetched and compared
// with the file journal; rows become pending downloads, updates or removals.
// No local file is touched here.
#include <string>
#include <vector>

#include "engine/PathSafety.h"
#include "engine/Work.h"
#include "engine/WorkInternal.h"
#include "foundation/Logger.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

namespace {

constexpr const char* kUserLogout = "User request logout";

}  // namespace

bool CWork::AcceptServerEntry(const CFileInfo& file) {
  if (IsSafeServerPath(file.path)) return true;
  LogF(CLogger::kError, "CWork::AcceptServerEntry", "Refuse server entry {%s}: %s", PrintablePath(file.path).c_str(),
       UnsafePathReason(file.path));
  syncOk_ = 0;
  return false;
}

// Entries the listing named in a way that cannot be read are left out; the
// run cannot count as finished without them.
void CWork::NoteDroppedEntries(const char* function) {
  const int dropped = back_->DroppedEntries();
  if (dropped == 0) return;
  LogF(CLogger::kError, function, "%d entries of the server listing cannot be read: left out", dropped);
  syncOk_ = 0;
}

int CWork::GetAll() {
  constexpr const char* kFunction = "CWork::GetAll";
  std::vector<CFileInfo> files;
  std::string result;
  if (!back_->DownloadAll(result, files)) {
    LogText(CLogger::kError, kFunction, "Fail to download the list of all files from Server");
    return 0;
  }
  NoteDroppedEntries(kFunction);
  for (const CFileInfo& file : files) {
    LogF(CLogger::kInfo, kFunction, "Server FS: %s(%d, %lld)", file.path.c_str(), file.dir,
         static_cast<long long>(file.size));
  }
  CJournalSession session(*fileJournal_, *chunkJournal_);
  if (!session.Open()) {
    LogText(CLogger::kError, kFunction, "Fail to open fileJournal DB");
    return 0;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const CFileInfo& file = files[i];
    if (file.dir > 1) fileJournal_->AddShareOwner(std::to_string(file.dir), file.owner);
    if (i == 0) {
      if (file.dir == 0 || file.path.empty()) {
        LogF(CLogger::kError, kFunction, "Fail to get server root: %s(%d)", file.path.c_str(), file.dir);
        return 0;
      }
      config_.Set(CConfig::kServerRoot, file.path);
      config_.Store();
      fileJournal_->SetServerRoot(file.path);
      session.BeginBatch();  // after the settings were stored: the batch holds client.db's write lock
    } else if (AcceptServerEntry(file) && !GetFile(file)) {
      session.Close();
      LogText(CLogger::kError, kFunction, "Fail to get file from server");
      return 0;
    }
    if (cancel_) {
      session.Close();
      LogText(CLogger::kInfo, kFunction, kUserLogout);
      return 0;
    }
  }
  return 1;
}

int CWork::GetFile(const CFileInfo& file) {
  constexpr const char* kFunction = "CWork::GetFile";
  LogF(CLogger::kInfo, kFunction, "get a file %s(%lld) from server to local DB...", file.path.c_str(),
       static_cast<long long>(file.size));
  if (file.dir == 0 && file.size > 0) {
    if (file.chunks.empty()) {
      LogF(CLogger::kError, kFunction, "Fail to get chunk for file {%s}", file.path.c_str());
      return 0;
    }
    const CChunkInfo& first = file.chunks.front();
    int recorded = 0;
    if (first.key.empty() || first.storageId.empty()) {
      // The listing named the chunks only: ask for the file's details.
      CFileInfo detail;
      detail.dir = 0;
      std::string result;
      if (!back_->Download(file.path, result, detail)) {
        LogF(CLogger::kError, kFunction, "Fail to download file {%s}", file.path.c_str());
        return 0;
      }
      if (!detail.IsSame(file)) {
        LogF(CLogger::kError, kFunction, "dismatched file {%s}", file.path.c_str());
        return 0;
      }
      recorded = chunkJournal_->AddFileChunk(detail);
    } else {
      recorded = chunkJournal_->AddFileChunk(file);
    }
    if (!recorded) {
      LogF(CLogger::kError, kFunction, "Fail to add file {%s} chunk to DB", file.path.c_str());
      return 0;
    }
  }
  if (!fileJournal_->AddUpdated(file)) {
    LogF(CLogger::kError, kFunction, "Fail to add updated {%s} to DB", file.path.c_str());
    return 0;
  }
  if (file.dir > 1) fileJournal_->AddShareId(file.dir);
  return 1;
}

int CWork::GetServerList() {
  constexpr const char* kFunction = "CWork::GetServerList";
  std::string root;
  if (!back_->GetServerRoot(root)) {
    LogText(CLogger::kError, kFunction, "fail to get server root");
    return 0;
  }
  LogF(CLogger::kInfo, kFunction, "get server root: %s", root.c_str());
  fileJournal_->SetServerRoot(root);
  CBack::FileMap listing;
  std::string result;
  if (!back_->GetList(root, result, listing)) {
    LogText(CLogger::kError, kFunction, "fail to get server file system list");
    return 0;
  }
  LogF(CLogger::kInfo, kFunction, "get server files counts: %d", static_cast<int>(listing.size()));
  NoteDroppedEntries(kFunction);
  if (cancel_) {
    LogText(CLogger::kInfo, kFunction, kUserLogout);
    return 0;
  }
  fileJournal_->ClearServerShares();
  for (const auto& [key, file] : listing) {
    std::string rel = file.path;
    if (fileJournal_->TrimDBServerPah(rel)) fileCache_->SetPathStatus(rel, 3);
    if (file.dir > 1) {
      const std::string id = std::to_string(file.dir);
      LogF(CLogger::kInfo, kFunction, "share folder(%d) owner(%s): %s", file.dir, file.owner.c_str(),
           file.path.c_str());
      fileJournal_->AddServerShare(id, file.path);
      fileJournal_->AddShareOwner(id, file.owner);
    }
  }
  if (cancel_) {
    LogText(CLogger::kInfo, kFunction, kUserLogout);
    return 0;
  }
  if (listing.empty()) return 1;
  CJournalSession session(*fileJournal_, *chunkJournal_);
  if (!OpenJournalForPhase(session, kFunction)) return 0;
  GetServerAdd(listing);
  if (cancel_) {
    LogText(CLogger::kInfo, kFunction, kUserLogout);
    return 0;
  }
  GetServerDelete(listing);
  return 1;
}

void CWork::GetServerAdd(const std::map<std::string, CFileInfo>& listing) {
  constexpr const char* kFunction = "CWork::GetServerAdd";
  fileJournal_->ClearShareIds();
  for (const auto& [key, file] : listing) {
    if (cancel_) return;
    if (file.dir != 0) {
      LogF(CLogger::kDebug, kFunction, "server  dir: %s >>>>>>>>>>>>>>>>>>>>>>>", file.path.c_str());
    } else {
      LogF(CLogger::kDebug, kFunction, "server file: %s (%lld)", file.path.c_str(), static_cast<long long>(file.size));
    }
    CFileItem item;
    if (fileJournal_->FindItem(key, item) && item.onDisk == 1 && !fileJournal_->IsInSharedFolder(file.path) &&
        item.active.IsSame(file)) {
      continue;
    }
    if (!AcceptServerEntry(file)) continue;
    if (!GetFile(file)) syncOk_ = 0;
  }
}

void CWork::GetServerDelete(const std::map<std::string, CFileInfo>& listing) {
  constexpr const char* kFunction = "CWork::GetServerDelete";
  if (!fileCache_->ScanRoot()) {
    LogText(CLogger::kError, kFunction, "Fail to scan local file system");
    syncOk_ = 0;
    return;
  }
  CFileItem item;
  for (int more = fileJournal_->LastItem(item); more; more = fileJournal_->PrevItem(item)) {
    if (listing.count(item.serverPath)) continue;
    // A path below a shared folder may be listed under the share's id.
    std::string path = item.onDisk == 1 ? item.active.path : item.updated.path;
    if (fileJournal_->TrimDBServerPah(path) && fileJournal_->MakeServerPath(path) &&
        listing.count(CFileJournal::ToKey(path))) {
      continue;
    }
    if (!fileJournal_->MarkRemove(item.serverPath)) syncOk_ = 0;
  }
}
