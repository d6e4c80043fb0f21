// CWork: the download phase's decisions. Per journal row: a new or changed
// server entry is brought in, a server removal applied; a local entry that
// differs from what the journal last recorded is never overwritten or
// deleted, it is moved aside under its conflict name first.
#include <algorithm>
#include <set>
#include <utility>

#include "engine/DownloadAhead.h"
#include "engine/PathSafety.h"
#include "engine/TransferLanes.h"
#include "engine/Work.h"
#include "engine/WorkInternal.h"
#include "foundation/Logger.h"
#include "platform/FileSystem.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

namespace {

constexpr const char* kUserLogout = "User request logout";

// Whether the local entry is still the version the journal recorded
// (`recorded` with its modify time as recorded): folders by kind, files by
// size and, when the times differ, by content.
bool LocalUnchanged(CFileCache& cache, const CFileInfo& recorded, CFileInfo& local) {
  if (recorded.dir != 0 || local.dir != 0) return recorded.dir == local.dir;
  if (recorded.size != local.size) return false;
  if (recorded.mtime == local.mtime) return true;
  return cache.LoadChunk(local) && recorded.chunkList == local.chunkList;
}

}  // namespace

bool FolderHoldsUserEntries(const CFileCache& cache, const std::string& rel) {
  std::string full = rel;
  cache.MakeLocalPath(full);
  std::vector<platform::FolderEntry> entries;
  if (platform::RealFileSystem().ListFolder(full, entries) != 0) return true;
  for (const platform::FolderEntry& entry : entries) {
    const std::string& name = entry.name;
    if (name == kShareMarkerName || name == kFolderIconName) continue;
    if (IsTemporaryName(name)) continue;
    return true;
  }
  return false;
}

int CWork::LocalPath(const std::string& serverPath, std::string& rel) const {
  rel = serverPath;
  if (!fileJournal_->TrimDBServerPah(rel)) {
    LogF(CLogger::kError, "CWork::LocalPath", "Fail to trim server path {%s}", serverPath.c_str());
    return 0;
  }
  if (!IsSafeRelativePath(rel)) {
    LogF(CLogger::kError, "CWork::LocalPath", "Refuse server path {%s}: %s", PrintablePath(serverPath).c_str(),
         UnsafePathReason(rel));
    return 0;
  }
  return 1;
}

int CWork::OpenJournalForPhase(CJournalSession& session, const char* function) {
  if (!session.Open()) {
    LogText(CLogger::kError, function, "Fail to open DB of FileJournaler");
    return 0;
  }
  if (!fileJournal_->LoadMap()) {
    LogText(CLogger::kError, function, "Fail to load map of FileJournaler");
    return 0;
  }
  if (!fileJournal_->LoadDBShareMap()) {
    LogText(CLogger::kError, function, "Fail to load share folder map of FileJournaler");
    return 0;
  }
  session.BeginBatch();
  return 1;
}

int CWork::Download() {
  downloadScanned_ = false;
  CJournalSession session(*fileJournal_, *chunkJournal_);
  if (!OpenJournalForPhase(session, "CWork::Download")) return 0;
  const std::vector<CFileInfo> expected = FilesToFetchAhead();
  const int checked = expected.empty() ? CheckDownload(session) : CheckDownloadFetchingAhead(session, expected);
  if (!checked) return 0;
  return CheckDelete();
}

// The lanes exist for this phase only when there is something to fetch.
int CWork::CheckDownloadFetchingAhead(CJournalSession& session, const std::vector<CFileInfo>& expected) {
  CTransferLanes lanes(TransferLaneCount(), kLaneMemoryBudget, [this](CTransferLane& lane) { return PrepareLane(lane); });
  CLanesInUse inUse(*this, lanes);
  CDownloadAhead ahead(lanes, *fileCache_, *chunkJournal_, cancel_, kLaneMemoryBudget);
  for (const CFileInfo& file : expected) ahead.Expect(file);
  ahead.Pump();
  downloadAhead_ = &ahead;
  const int checked = CheckDownload(session);
  downloadAhead_ = nullptr;
  lanes.Finish();
  return checked;
}

// The new files of the pending rows with nothing local at their place and
// no copy of their content on disk: the downloads the decisions will most
// likely make. (A guess: read-ahead only saves time, the decisions are
// taken as always.)
std::vector<CFileInfo> CWork::FilesToFetchAhead() {
  std::vector<CFileInfo> files;
  std::set<std::pair<int64_t, std::string>> onDisk;  // size and chunk list of the files the journal has on disk
  CFileItem item;
  for (int more = fileJournal_->FirstItem(item); more; more = fileJournal_->NextItem(item)) {
    const CFileInfo& updated = item.updated;
    if (item.onDisk == 1 && item.active.dir == 0) onDisk.emplace(item.active.size, item.active.chunkList);
    if (item.onDisk == 1 || updated.mtime < 0 || !item.active.path.empty()) continue;
    if (updated.dir != 0 || updated.size <= 0) continue;
    std::string rel = updated.path;
    if (!fileJournal_->TrimDBServerPah(rel) || !IsSafeRelativePath(rel)) continue;
    if (!ScanForDownload("CWork::Download")) return {};
    CFileInfo local;
    if (!fileCache_->LookupLocal(rel, local)) files.push_back(updated);
  }
  files.erase(std::remove_if(files.begin(), files.end(),
                             [&](const CFileInfo& file) { return onDisk.count({file.size, file.chunkList}) > 0; }),
              files.end());
  return files;
}

int CWork::CheckDownload(CJournalSession& session) {
  constexpr const char* kFunction = "CWork::CheckDownload";
  CFileItem item;
  for (int more = fileJournal_->FirstItem(item); more; more = fileJournal_->NextItem(item)) {
    if (cancel_) {
      LogText(CLogger::kInfo, kFunction, kUserLogout);
      return 0;
    }
    if (item.onDisk == 1 || item.updated.mtime < 0) continue;
    if (item.updated.path.empty()) {
      LogText(CLogger::kFatal, kFunction, "Fail to get a updated file");
      syncOk_ = 0;
      continue;
    }
    if (downloadAhead_) downloadAhead_->Pump();
    const int done = item.active.path.empty() ? CheckNew(item.updated) : CheckUpdated(item.active, item.updated);
    if (done != 1) syncOk_ = 0;
    // What this row wrote locally is recorded now, not at the phase's end:
    // the batch would otherwise hold client.db's write lock for every transfer.
    session.Checkpoint();
  }
  return 1;
}

// Removals are applied children first, so that a folder is looked at once
// the entries below it are dealt with.
int CWork::CheckDelete() {
  constexpr const char* kFunction = "CWork::CheckDelete";
  CFileItem item;
  for (int more = fileJournal_->LastItem(item); more; more = fileJournal_->PrevItem(item)) {
    if (cancel_) {
      LogText(CLogger::kInfo, kFunction, kUserLogout);
      return 0;
    }
    if (item.onDisk == 1) {
      std::string rel = item.active.path;
      if (fileJournal_->TrimDBServerPah(rel)) {
        fileCache_->SetPathMark(rel, 1);
        SetMark(rel, 1);
      }
      continue;
    }
    if (item.updated.mtime >= 0) continue;
    std::string rel;
    if (!LocalPath(item.updated.path, rel) || !ServerDeleteFile(rel, item)) {
      syncOk_ = 0;
      continue;
    }
    if (!fileJournal_->Remove(item.serverPath)) {
      LogF(CLogger::kError, kFunction, "Fail to remove (%s) from local DB", item.serverPath.c_str());
      syncOk_ = 0;
      continue;
    }
    CFileInfo kept;
    if (!fileCache_->StatLocal(rel, kept)) AddFinished("删除", rel);  // a folder kept for its local entries is not
  }
  return 1;
}

int CWork::ServerDeleteFile(const std::string& path, const CFileItem& row) {
  constexpr const char* kFunction = "CWork::ServerDeleteFile";
  CFileInfo local;
  if (!fileCache_->LookupLocal(path, local)) return 1;  // nothing to remove
  CFileInfo asRecorded = row.updated;
  asRecorded.mtime = -row.updated.mtime;  // a removal keeps the last version's time negated
  // A row whose new version was not yet recorded as applied may hold either
  // version on disk: both are the service's, neither is a local change.
  const bool unchanged = LocalUnchanged(*fileCache_, asRecorded, local) ||
                         (!row.active.path.empty() && row.active.mtime > 0 &&
                          LocalUnchanged(*fileCache_, row.active, local));
  if (unchanged) {
    if (local.dir != 0 && FolderHoldsUserEntries(*fileCache_, path)) {
      // Entries the server never had (or conflict copies) are inside: the
      // folder stays and goes back to the server with them.
      LogF(CLogger::kInfo, kFunction, "Keep folder {%s}: it holds local entries", path.c_str());
      resync_ = 1;
      return 1;
    }
    if (!fileCache_->Remove(path)) {
      LogF(CLogger::kError, kFunction, "Fail to remove (%s) from local FS", path.c_str());
      return 0;
    }
    return 1;
  }
  if (!fileCache_->Rename(path, CUtil::ConflictName(path))) {
    LogF(CLogger::kError, kFunction, "Fail to rename (%s) from local FS", path.c_str());
    return 0;
  }
  resync_ = 1;  // the next pass uploads the conflict copy
  return 1;
}

// ---------------------------------------------------------------------------
// New and changed server entries

int CWork::ScanForDownload(const char* function) {
  if (downloadScanned_) return 1;
  if (!fileCache_->ScanRoot()) {
    LogText(CLogger::kError, function, "Fail to scan local file system");
    return 0;
  }
  downloadScanned_ = true;
  return 1;
}

int CWork::SetAside(const std::string& rel, const char* failureFormat) {
  if (!fileCache_->Rename(rel, CUtil::ConflictName(rel))) {
    LogF(CLogger::kError, "CWork::SetAside", failureFormat, rel.c_str());
    return 0;
  }
  resync_ = 1;
  return 1;
}

int CWork::BringIn(const CFileInfo& updated) {
  if (GetbyLocal(updated) || DownloadNewFile(updated)) return 1;
  LogF(CLogger::kInfo, "CWork::BringIn", "Fail to download file {%s}", updated.path.c_str());
  return 0;
}

void CWork::MarkShared(const std::string& rel, const CFileInfo& shared) {
  const std::string id = std::to_string(shared.dir);
  std::string owner;
  fileJournal_->FindShareOwner(id, owner);
  fileCache_->SetShareFolder(rel, id);
  fileCache_->SetShareIcon(rel, !owner.empty() && owner == GetUser(), owner);
}

// Gives the local file the version's modify time; a file that has it already
// is not touched (a touch would be seen as a change and repeat the pass).
int CWork::SetTimeFrom(const CFileInfo& version, const std::string& rel) {
  if (version.dir != 0) return 1;
  CFileInfo now;
  if (fileCache_->StatLocal(rel, now) && now.mtime == version.mtime) return 1;
  CFileInfo timed = version;
  timed.path = rel;
  return fileCache_->SetFileTime(timed);
}

void CWork::MarkSynchronised(const std::string& rel) {
  SetMark(rel, 1);
  fileCache_->SetPathMark(rel, 1);
  fileCache_->SetPathStatus(rel, 3);
}

int CWork::CheckNew(const CFileInfo& updated) {
  constexpr const char* kFunction = "CWork::CheckNew";
  if (!ScanForDownload(kFunction)) return 0;
  std::string rel;
  if (!LocalPath(updated.path, rel)) return 0;
  SetMark(rel, 0);
  bool keep = false;
  CFileInfo local;
  if (fileCache_->LookupLocal(rel, local)) {
    if (local.dir != 0) {
      if (updated.dir == 0) {
        if (!SetAside(rel, "Fail to rename to {%s}")) return 0;
      } else {
        keep = true;
        if (updated.dir > 1) MarkShared(rel, updated);
      }
    } else if (updated.dir != 0) {
      if (!SetAside(rel, "Fail to rename {%s}")) return 0;
    } else {
      if (!fileCache_->LoadChunk(local)) {
        LogF(CLogger::kError, kFunction, "Fail to load chunk from file: %s", rel.c_str());
        return 0;
      }
      if (updated.IsSameContent(local)) {
        keep = true;
        LogF(CLogger::kInfo, kFunction, "file {%s} exisits on local", rel.c_str());
      } else if (!SetAside(rel, "Fail to rename {%s}")) {
        return 0;
      }
    }
  }
  if (!keep && !BringIn(updated)) return 0;
  const std::string key = CFileJournal::ToKey(updated.path);
  if (!fileJournal_->OnDisk(key)) {
    LogF(CLogger::kError, kFunction, "Fail to ondisk file {%s} to DB", key.c_str());
    return 0;
  }
  MarkSynchronised(rel);
  AddFinished("下载", rel);
  return 1;
}

int CWork::CheckUpdated(const CFileInfo& active, const CFileInfo& updated) {
  constexpr const char* kFunction = "CWork::CheckUpdated";
  if (!ScanForDownload(kFunction)) return 0;
  std::string rel;
  if (!LocalPath(active.path, rel)) return 0;
  SetMark(rel, 0);
  fileCache_->SetPathStatus(rel, 2);
  const std::string key = CFileJournal::ToKey(active.path);
  CFileInfo local;
  if (fileCache_->LookupLocal(rel, local)) {
    if (!fileCache_->LoadChunk(local)) {
      LogF(CLogger::kError, kFunction, "Fail to load chunk from file: %s", rel.c_str());
      return 0;
    }
    const bool localUnchanged = active.IsSame(local);
    if (updated.IsSameContent(local)) {
      if (!SetTimeFrom(updated, rel)) return 0;
    } else if (localUnchanged) {
      if (!DownloadUpdatedFile(active, updated)) {
        LogF(CLogger::kError, kFunction, "Fail to download updated file {%s}", rel.c_str());
        return 0;
      }
    } else {
      // Changed on both sides: the local version becomes the conflict copy.
      if (!SetAside(rel, "Fail to rename to confict file {%s}")) return 0;
      if (!fileJournal_->RemoveActive(key)) {
        LogF(CLogger::kError, kFunction, "Fail to remove file {%s} active from DB", key.c_str());
        return 0;
      }
      if (!BringIn(updated)) return 0;
    }
    if (!fileJournal_->OnDisk(key)) {
      LogF(CLogger::kError, kFunction, "Fail to ondisk file {%s} to DB", key.c_str());
      return 0;
    }
    MarkSynchronised(rel);
    AddFinished("修改", rel);
    return 1;
  }
  // Removed locally while changed on the server: the server's version comes
  // in and at once becomes the conflict copy; the next pass reports the
  // removal and uploads the copy.
  if (!fileJournal_->RemoveActive(key)) {
    LogF(CLogger::kError, kFunction, "Fail to remove file {%s} active from DB", key.c_str());
    return 0;
  }
  std::string relNew;
  if (!LocalPath(updated.path, relNew) || !BringIn(updated)) return 0;
  if (!fileJournal_->OnDisk(key)) {
    LogF(CLogger::kError, kFunction, "Fail to ondisk file {%s} to DB", key.c_str());
    return 0;
  }
  if (!SetAside(relNew, "Fail to rename confict file {%s}")) return 0;
  AddFinished("下载", relNew);
  return 1;
}
