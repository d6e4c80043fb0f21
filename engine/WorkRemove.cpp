// CWork: the upload phase, second half, and renames. Entries the journal
// records as synchronised but the user folder no longer holds are removed on
// the service: a folder with one request for everything below it, a shared
// folder by its share id. A pass that would empty much of the user's storage
// asks first. Renames the watcher saw while the worker was idle go to the
// service at once and end with a full run.
#include <algorithm>

#include "engine/PathSafety.h"
#include "engine/Work.h"
#include "engine/WorkInternal.h"
#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

// A synchronised entry that is gone from the user folder.
struct CLocalRemoval {
  std::string rel;    // root-relative path
  std::string order;  // TreeOrderKey(rel)
  CFileItem row;
};

namespace {

constexpr const char* kDeleteFunction = "CWork::CheckLocalDelete";
constexpr const char* kUserLogout = "User request logout";

// Orders paths so that a folder's whole content follows it directly ("/a",
// "/a/x", "/a-b" rather than "/a", "/a-b", "/a/x").
std::string TreeOrderKey(const std::string& rel) {
  std::string key = CFileJournal::ToKey(rel);
  std::replace(key.begin(), key.end(), '/', '\x01');
  return key;
}

// One value for a set of removals, to recognise a set the user declined.
std::string RemovalSetDigest(const std::vector<CLocalRemoval>& removals) {
  std::string all;
  for (const CLocalRemoval& removal : removals) all += removal.row.serverPath + '\n';
  std::string digest;
  CUtil::Md5Hex(all.data(), all.size(), digest);
  return std::to_string(removals.size()) + ":" + digest;
}

}  // namespace

void CWork::CheckLocalDelete() {
  if (!fileCache_->ScanRoot()) {
    LogText(CLogger::kError, kDeleteFunction, "Fail to scan local file system");
    syncOk_ = 0;
    return;
  }
  std::vector<CLocalRemoval> removals;
  std::size_t inSync = 0;
  CFileItem row;
  for (int more = fileJournal_->FirstItem(row); more; more = fileJournal_->NextItem(row)) {
    if (cancel_) {
      LogText(CLogger::kInfo, kDeleteFunction, kUserLogout);
      syncOk_ = 0;
      return;
    }
    if (row.onDisk != 1) continue;
    std::string rel = row.active.path;
    if (!fileJournal_->TrimDBServerPah(rel)) {
      LogF(CLogger::kInfo, kDeleteFunction, "Fail to trim server path for file {%s}", row.active.path.c_str());
      continue;
    }
    ++inSync;
    CFileInfo local;
    if (fileCache_->FindLocal(rel, local)) continue;
    std::string order = TreeOrderKey(rel);
    removals.push_back({std::move(rel), std::move(order), row});
  }
  if (removals.empty()) return;
  const std::string digest = RemovalSetDigest(removals);
  if (digest != lastRemovals_) {
    // A deletion may still be under way (a folder emptied file by file, the
    // folder itself last): the removals go once two scans, a pass apart,
    // agree on them. So a deleted folder is one removal and counts whole,
    // and a shared folder a member deletes is left, not emptied for all.
    LogF(CLogger::kInfo, kDeleteFunction, "%zu removals wait for the next pass", removals.size());
    lastRemovals_ = digest;
    resync_ = 1;
    return;
  }
  if (!RemovalsAllowed(removals, inSync, digest)) return;
  // Folders before their content, shared folders included (their content's
  // journal keys begin with the share id, not with the folder's path).
  std::sort(removals.begin(), removals.end(),
            [](const CLocalRemoval& a, const CLocalRemoval& b) { return a.order < b.order; });
  std::string lastReported;
  std::string parentFolder;
  for (const CLocalRemoval& removal : removals) {
    if (cancel_) {
      LogText(CLogger::kInfo, kDeleteFunction, kUserLogout);
      syncOk_ = 0;
      return;
    }
    // The service removes a folder's content with it.
    if (!lastReported.empty() && IsAtOrBelow(lastReported, removal.rel)) continue;
    lastReported = removal.rel;
    ReportRemoval(removal, parentFolder);
  }
  if (!parentFolder.empty() && syncOk_ == 1) fileCache_->SetStatusUpTo(parentFolder, 3, "");
}

bool CWork::RemovalsAllowed(const std::vector<CLocalRemoval>& removals, std::size_t inSync,
                            const std::string& digest) {
  if (removals.size() <= kMassRemoval && removals.size() < inSync) return true;
  if (digest == declinedRemovals_ && !userAskedRun_) {
    LogF(CLogger::kWarn, kDeleteFunction, "Keep %zu removals back: declined before", removals.size());
    syncOk_ = 0;
    return false;
  }
  LogF(CLogger::kWarn, kDeleteFunction, "Ask before removing %zu of %zu entries from Server", removals.size(), inSync);
  const std::string question =
      StrFormat(LocalText("本地已删除 %zu 个文件和文件夹（共 %zu 个已同步），继续同步将同时删除服务器上的这些文件。确定删除吗？")
                    .c_str(),
                removals.size(), inSync);
  if (prompt_.AskOkCancel(question)) {
    declinedRemovals_.clear();
    return true;
  }
  declinedRemovals_ = digest;
  LogF(CLogger::kWarn, kDeleteFunction, "User declined removing %zu entries from Server", removals.size());
  Status(LocalText("已取消删除服务器上的文件"));
  syncOk_ = 0;
  return false;
}

void CWork::ReportRemoval(const CLocalRemoval& removal, std::string& parentFolder) {
  const CFileItem& row = removal.row;
  const bool shared = row.active.dir > 1;
  const std::string name = shared ? std::to_string(row.active.dir) : row.active.path;
  std::string full = removal.rel;
  fileCache_->MakeLocalPath(full);
  const std::string line = LocalText("删除文件: ") + name;
  LogText(CLogger::kInfo, kDeleteFunction, line);
  Message(line);
  Status(LocalText("删除文件: ") + full);

  if (!parentFolder.empty()) {
    std::string stop = ParentFolder(removal.rel);
    fileCache_->MakeLocalPath(stop);
    fileCache_->SetStatusUpTo(parentFolder, 3, stop);
  }
  parentFolder = ParentFolder(removal.rel);
  fileCache_->SetPathStatus(parentFolder, 2);

  std::string result;
  if (!back_->Remove(name, result)) {
    LogF(CLogger::kError, kDeleteFunction, "Fail to request Back Server for delete file {%s}", name.c_str());
    syncOk_ = 0;  // the row stays in sync: the next pass reports it again
    return;
  }
  if (shared) {
    LogF(CLogger::kInfo, kDeleteFunction, " remove a share folder(%s): %s", name.c_str(), row.active.path.c_str());
    // "<id>/": the rows of share 17 must not take those of share 170 along.
    fileJournal_->RemoveAll(name + "/");
    fileJournal_->EraseDBShare(name);
    return;
  }
  if (!fileJournal_->Remove(row.serverPath)) {
    LogF(CLogger::kError, kDeleteFunction, "Fail to delete file {%s} from DB", row.serverPath.c_str());
    syncOk_ = 0;
    return;
  }
  // The service removed the folder's content with it, so its rows go too: a
  // listing that comes back empty (the user folder emptied) leaves the
  // journal alone, and the next pass would report that content once more.
  if (row.active.dir != 0) fileJournal_->RemoveAll(row.serverPath + "/");
}

// ---------------------------------------------------------------------------
// Renames seen while idle

namespace {

std::string RootRelative(const std::string& path) { return !path.empty() && path[0] == '/' ? path : "/" + path; }

}  // namespace

int CWork::Rename(const std::string& oldPath, const std::string& newPath) {
  constexpr const char* kFunction = "CWork::Rename";
  LogF(CLogger::kInfo, kFunction, "Rename %s -> %s", oldPath.c_str(), newPath.c_str());
  const std::string from = RootRelative(oldPath);
  const std::string to = RootRelative(newPath);
  CFileInfo target;
  const bool folder = fileCache_->StatLocal(to, target) && target.dir != 0;
  std::string oldServer = from;
  std::string newServer = to;
  std::string result;
  if (!IsSafeRelativePath(from) || !IsSafeRelativePath(to) || !fileJournal_->MakeServerPath(oldServer) ||
      !fileJournal_->MakeServerPath(newServer) || !back_->Rename(oldServer, newServer, result)) {
    // The run that follows sees a removal and an addition instead.
    LogText(CLogger::kError, kFunction, "Fail to rename a folder");
    CheckSync();
    return 0;
  }
  CJournalSession session(*fileJournal_, *chunkJournal_);
  if (!session.Open()) {
    LogText(CLogger::kError, kFunction, "Fail to open DB of FileJournaler");
    CheckSync();
    return 0;
  }
  if (folder) {
    fileJournal_->RenameFolder(oldServer, newServer);
  } else {
    fileJournal_->Rename(CFileJournal::ToKey(oldServer), newServer);
  }
  session.Close();
  CheckSync();
  return 1;
}
