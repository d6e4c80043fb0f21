// CWork: the upload phase, first half. Every local entry that is new, or
// changed since the journal recorded it, goes to the service: a folder is
// announced, a file is announced with its chunk list and the back server then
// names, one step at a time, what it still needs ("upload_chunk" with a chunk
// and its storage key) until it holds everything ("all_chunk_exist"). Only
// chunks the service lacks travel; a changed file sends each one as a delta
// against the blocks of the version the journal recorded, when it can. A file
// whose content is unchanged and only its time moved is repaired locally.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "engine/ChunkPrefetch.h"
#include "engine/PathSafety.h"
#include "engine/Work.h"
#include "engine/WorkInternal.h"
#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"

namespace {

constexpr const char* kUserLogout = "User request logout";
constexpr const char* kAllChunkExist = "all_chunk_exist";
constexpr const char* kUploadChunk = "upload_chunk";
constexpr const char* kRemoveChunk = "remove_chunk";
constexpr const char* kMoveConflict = "move_conflic_file";
constexpr const char* kCopyConflict = "copy_conflic_file";
constexpr const char* kAddFunction = "CWork::CheckLocalAdd";
constexpr std::size_t kChunkListStride = 33;  // 32 hex digits and a comma per key
constexpr int32_t kMiBPerChunk = 4;
// A coarser clock than the file system's own keeps times within this much
// (FAT keeps 2 s): ticks of 100 ns.
constexpr int64_t kCoarsestClock = 20000000;

}  // namespace

// One walk: the folder statuses (finished entries of one folder keep it
// "in progress" until the walk leaves it) and the files whose content the
// walk will cut into chunks, in walk order, the next of them cut ahead.
struct CUploadWalk {
  explicit CUploadWalk(CFileCache& cache) : prefetch(cache) {}
  std::string rememberedFolder;  // root-relative; empty: none
  std::string lastFinished;
  std::vector<CFileInfo> toLoad;
  std::size_t nextLoad = 0;  // the first of toLoad not yet cut
  CChunkPrefetch prefetch;
};

// One local entry on its way to the service.
struct CUploadFile {
  std::string rel;         // root-relative path
  std::string serverPath;  // as the service names it
  std::string key;         // its journal key
  CFileInfo file;          // the local version: scanned, then cut into chunks
  bool known = false;      // the journal has a row for it
  CFileInfo journal;       // the row's version, with chunks and block signature for a file
  bool canDelta = false;
  int32_t total = 0;                          // progress: the size's low 32 bits
  std::unique_ptr<CChunkBuffer> cacheBuffer;  // the one 4 MiB buffer of a large file
};

// ---------------------------------------------------------------------------
// The phase

int CWork::Upload() {
  constexpr const char* kFunction = "CWork::Upload";
  CJournalSession session(*fileJournal_, *chunkJournal_);
  if (!session.Open()) {
    LogText(CLogger::kError, kFunction, "Fail to open DB of FileJournaler");
    return 0;
  }
  if (!ReloadJournalMaps()) return 0;
  session.BeginBatch();
  LogText(CLogger::kInfo, kFunction, "---- upload local add ----");
  const bool walked = CheckLocalAdd(session);
  if (!walked || cancel_) {
    LogText(CLogger::kInfo, kFunction, kUserLogout);
    return 0;
  }
  session.Checkpoint();
  if (!ReloadJournalMaps()) return 0;  // the additions changed the table
  LogText(CLogger::kInfo, kFunction, "---- upload local deltele ----");
  CheckLocalDelete();
  return 1;
}

int CWork::ReloadJournalMaps() {
  if (!fileJournal_->LoadMap()) {
    LogText(CLogger::kError, "CWork::Upload", "Fail to laod map of FileJournaler");
    return 0;
  }
  if (!fileJournal_->LoadDBShareMap()) {
    LogText(CLogger::kError, "CWork::Upload", "Fail to laod map of ShareFolder");
    return 0;
  }
  return 1;
}

bool CWork::CheckLocalAdd(CJournalSession& session) {
  if (!fileCache_->ScanRoot()) {
    LogText(CLogger::kError, kAddFunction, "Fail to scan local file system");
    syncOk_ = 0;
    return true;
  }
  for (const std::string& folder : fileCache_->TooDeepFolders()) {
    LeaveOut(folder, "its content lies deeper than 32 folder levels", "文件夹层次超过 32 层，其中的内容未同步");
  }
  const auto stopped = [this] {
    if (!cancel_) return false;
    LogText(CLogger::kInfo, kAddFunction, kUserLogout);
    syncOk_ = 0;
    return true;
  };
  // First the pending work shows in the shell, then it is done.
  CUploadWalk walk(*fileCache_);
  CFileInfo scanned;
  for (int more = fileCache_->FirstLocal(scanned); more; more = fileCache_->NextLocal(scanned)) {
    if (stopped()) return false;
    std::string serverPath = scanned.path;
    CFileItem row;
    if (!fileJournal_->MakeDBServerPath(serverPath)) continue;
    const bool known = fileJournal_->FindItem(CFileJournal::ToKey(serverPath), row) == 1;
    if (!known) fileCache_->SetPathStatus(scanned.path, 1);
    if (scanned.dir == 0 && (!known || (row.onDisk == 1 && !row.active.IsSame(scanned)))) {
      walk.toLoad.push_back(scanned);
    }
  }
  if (!walk.toLoad.empty()) walk.prefetch.Start(walk.toLoad.front());
  for (int more = fileCache_->FirstLocal(scanned); more; more = fileCache_->NextLocal(scanned)) {
    if (stopped()) return false;
    bool wrote = false;
    if (!UploadEntry(scanned, walk, wrote)) return false;
    // What this entry recorded is kept now: a batch held over a transfer
    // would hold client.db's write lock for all of it.
    if (wrote) session.Checkpoint();
  }
  if (syncOk_ == 1) {
    if (!walk.lastFinished.empty()) fileCache_->SetStatusUpTo(walk.lastFinished, 3, "");
    if (!walk.rememberedFolder.empty()) fileCache_->SetStatusUpTo(walk.rememberedFolder, 3, "");
  }
  return true;
}

bool CWork::UploadEntry(const CFileInfo& scanned, CUploadWalk& walk, bool& wrote) {
  CUploadFile upload;
  upload.rel = scanned.path;
  upload.serverPath = scanned.path;
  if (!fileJournal_->MakeDBServerPath(upload.serverPath)) {
    LogF(CLogger::kError, kAddFunction, "Fail to make server path for file {%s}", upload.rel.c_str());
    syncOk_ = 0;
    return true;
  }
  upload.key = CFileJournal::ToKey(upload.serverPath);
  CFileItem row;
  upload.known = fileJournal_->FindItem(upload.key, row) == 1;
  if (upload.known && row.onDisk != 1) {
    // The service holds a version the download phase could not bring in
    // yet: sending the local one would replace it unseen. The next pass
    // downloads it first (and sets a differing local copy aside).
    LogF(CLogger::kInfo, kAddFunction, "Leave {%s} to the download of its server version", upload.rel.c_str());
    return true;
  }
  if (upload.known && row.active.IsSame(scanned)) {
    fileCache_->SetPathStatus(upload.rel, 3);
    return true;
  }
  if (upload.known && row.active.dir > 1 && scanned.dir == 1) {
    // A shared folder whose marker is gone (the user is deleting the folder,
    // or removed the hidden file): it stays the shared folder. Recording it
    // as a plain one would cut its content off the share's rows.
    LogF(CLogger::kInfo, kAddFunction, "Shared folder {%s} without its marker: left as it is", upload.rel.c_str());
    return true;
  }
  wrote = true;
  upload.file = scanned;
  if (upload.known) {
    upload.journal = row.active;
    if (scanned.dir == 0 && row.active.dir == 0) {
      if (!chunkJournal_->GetFileChunk(upload.journal)) {
        LogF(CLogger::kError, kAddFunction, "Fail to get chunk info of file %s from DB", upload.journal.path.c_str());
        syncOk_ = 0;
        return true;
      }
      LogF(CLogger::kInfo, kAddFunction, "Get file block %s", upload.rel.c_str());
      upload.canDelta = upload.journal.BuildSignature() == 1;  // without one, whole chunks travel
    }
  }
  std::string full = upload.rel;
  fileCache_->MakeLocalPath(full);
  const std::string line = StrFormat("%s%s(%lld, %lld)", LocalText("上载文件: ").c_str(), upload.rel.c_str(),
                                     static_cast<long long>(scanned.size), static_cast<long long>(scanned.mtime));
  LogText(CLogger::kInfo, kAddFunction, line);
  Message(line);
  Status(LocalText("上载文件: ") + full);
  SetMark(upload.rel, 0);
  fileCache_->SetPathMark(upload.rel, 0);
  if (scanned.dir > 1) {
    UploadShareFolder(upload, walk);
  } else if (scanned.dir == 1) {
    UploadFolder(upload, walk);
  } else {
    return UploadFile(upload, walk);
  }
  return true;
}

// A folder marked as a share that has no journal row under its path: the
// user gave the shared folder a new name. The share moves on the service.
void CWork::UploadShareFolder(CUploadFile& upload, CUploadWalk& walk) {
  const std::string id = std::to_string(upload.file.dir);
  std::string known;
  if (!fileJournal_->FindDBShare(id, known)) {
    syncOk_ = 0;
    fileCache_->RemoveShareMarker(upload.rel);
    fileCache_->RemoveFolderIcon(upload.rel);
    LogF(CLogger::kError, kAddFunction, "Fail to find a shared folder(id: %s)", id.c_str());
    return;
  }
  std::string knownRel = known;
  CFileInfo original;
  if (fileJournal_->TrimDBServerPah(knownRel) && fileCache_->LookupLocal(knownRel, original)) {
    // The share's folder is still there: this one is a copy, marker and all.
    LogF(CLogger::kInfo, kAddFunction, "Folder {%s} is a copy of shared folder {%s}", upload.rel.c_str(),
         knownRel.c_str());
    fileCache_->RemoveShareMarker(upload.rel);
    fileCache_->RemoveFolderIcon(upload.rel);
    upload.file.dir = 1;
    UploadFolder(upload, walk);
    return;
  }
  std::string result;
  if (!back_->Rename(known, upload.serverPath, result)) {
    LogText(CLogger::kError, kAddFunction, "Fail to rename a folder");
    syncOk_ = 0;
    return;
  }
  fileCache_->SetPathStatus(upload.rel, 3);
  fileJournal_->SetDBShare(id, upload.serverPath);
  fileJournal_->Rename(CFileJournal::ToKey(known), upload.serverPath);
}

void CWork::UploadFolder(CUploadFile& upload, CUploadWalk& walk) {
  LogF(CLogger::kInfo, kAddFunction, "Create a folder {%s} on Server", upload.rel.c_str());
  std::string result;
  if (upload.known && upload.journal.dir == 0 && !back_->Remove(upload.serverPath, result)) {
    // A file the user replaced by a folder: the service's file goes first,
    // or the folder could never be made.
    LogF(CLogger::kError, kAddFunction, "Fail to request Back Server for delete file {%s}", upload.serverPath.c_str());
    syncOk_ = 0;
    return;
  }
  CFileInfo folder(upload.serverPath, 1, 0);
  folder.mtime = upload.file.mtime;
  std::string ack;
  CChunkInfo none;
  const bool answered = back_->Upload(folder, nullptr, ack, none);
  if (!answered || ack != kAllChunkExist) {
    // Any other step is not one a folder can take: it is not recorded, and
    // the next pass announces it again.
    LogF(CLogger::kError, kAddFunction, "Fail to upload a folder {%s}: %s", PrintablePath(upload.rel).c_str(),
         ack.c_str());
    if (answered) {
      syncOk_ = 0;
    } else {
      UploadRefused(upload);
    }
    return;
  }
  if (!fileJournal_->AddActive(folder)) {
    LogF(CLogger::kError, kAddFunction, "Fail to add a folder {%s} to DB", upload.rel.c_str());
    syncOk_ = 0;
    return;
  }
  SetMark(upload.rel, 1);
  fileCache_->SetPathMark(upload.rel, 1);
  FolderFinished(upload.rel, walk);
}

bool CWork::UploadFile(CUploadFile& upload, CUploadWalk& walk) {
  CFileInfo& file = upload.file;
  const int loaded = walk.prefetch.Load(upload.rel, file);
  CutNextAhead(upload.rel, walk);
  if (!loaded) {
    LogText(CLogger::kError, kAddFunction, "Fail to load a file chunk");
    LoadFailed(upload);
    return true;
  }
  const bool wasFile = upload.known && upload.journal.dir == 0;
  if (wasFile && file.size == upload.journal.size && file.chunkList == upload.journal.chunkList) {
    RepairModifyTime(upload);
    return true;
  }
  file.path = upload.serverPath;
  std::string ack;
  CChunkInfo chunk;
  if (!back_->Upload(file, wasFile ? &upload.journal : nullptr, ack, chunk)) {
    LogF(CLogger::kError, kAddFunction, "Fail to upload a file {%s}", PrintablePath(upload.rel).c_str());
    UploadRefused(upload);
    return true;
  }
  if (!chunkJournal_->AddFileChunk(file)) {
    LogText(CLogger::kError, kAddFunction, "Fail to add a chunk info to DB");
    syncOk_ = 0;
    return true;
  }
  fileCache_->SetPathStatus(upload.rel, 2);
  upload.total = static_cast<int32_t>(static_cast<uint32_t>(file.size));
  const bool goOn = RunUploadDialogue(upload, ack, chunk, walk);
  file.ClearChunkBuffers();
  return goOn;
}

// While this file travels, the next one the walk will send is cut into chunks.
void CWork::CutNextAhead(const std::string& rel, CUploadWalk& walk) {
  const std::vector<CFileInfo>& files = walk.toLoad;
  const auto self = std::find_if(files.begin() + static_cast<std::ptrdiff_t>(walk.nextLoad), files.end(),
                                 [&](const CFileInfo& file) { return file.path == rel; });
  if (self != files.end()) walk.nextLoad = static_cast<std::size_t>(self - files.begin()) + 1;
  if (walk.nextLoad < files.size()) walk.prefetch.Start(files[walk.nextLoad]);
}

// Only the time moved: the journal's time goes back on the file instead of
// an upload of the same content.
void CWork::RepairModifyTime(CUploadFile& upload) {
  const CFileInfo& recorded = upload.journal;
  CFileInfo timed = recorded;
  timed.path = upload.rel;
  fileCache_->SetFileTime(timed);
  LogF(CLogger::kWarn, kAddFunction, "update local file mtime: %s(%lld, %lld -> %lld, %lld)", upload.rel.c_str(),
       static_cast<long long>(recorded.size), static_cast<long long>(recorded.mtime),
       static_cast<long long>(upload.file.size), static_cast<long long>(upload.file.mtime));
  CFileInfo now;
  if (fileCache_->LookupLocal(upload.rel, now) && now.mtime != recorded.mtime &&
      std::llabs(now.mtime - recorded.mtime) < kCoarsestClock) {
    // The file system kept a coarser time: the journal takes it, or every
    // pass would repair the same file again.
    CFileInfo kept = recorded;
    kept.mtime = now.mtime;
    fileJournal_->AddActive(kept);
  }
  MarkSynchronised(upload.rel);
}

// A file that could not be cut into chunks: when it changed or went away
// since the scan, the pass repeats and meets its new state; when it is there
// unchanged but unreadable, the run cannot count as finished.
void CWork::LoadFailed(const CUploadFile& upload) {
  CFileInfo now;
  if (!fileCache_->LookupLocal(upload.rel, now) || now.size != upload.file.size || now.mtime != upload.file.mtime) {
    resync_ = 1;
    return;
  }
  syncOk_ = 0;
}

// ---------------------------------------------------------------------------
// The dialogue of one file

bool CWork::RunUploadDialogue(CUploadFile& upload, std::string ack, CChunkInfo chunk, CUploadWalk& walk) {
  for (;;) {
    if (cancel_) {
      LogText(CLogger::kInfo, kAddFunction, kUserLogout);
      syncOk_ = 0;
      return false;
    }
    if (ack == kAllChunkExist) {
      FinishUpload(upload, walk);
      return true;
    }
    if (ack == kUploadChunk) {
      if (!SendChunk(upload, chunk)) return true;
      CChunkInfo next;
      if (!back_->ChunkDone(upload.file, chunk, ack, next)) {
        LogText(CLogger::kError, kAddFunction, "Fail to upload a file");
        syncOk_ = 0;
        return true;
      }
      chunk = next;
      continue;
    }
    if (ack == kRemoveChunk) {
      LogText(CLogger::kInfo, kAddFunction, "Remove a chunk");
      std::string result;
      // A removal names no next step, whatever its outcome: the file is not
      // stored yet, and the next pass announces it again.
      syncOk_ = 0;
      if (!transmitter_->RemoveChunk(chunk, result)) {
        LogText(CLogger::kError, kAddFunction, "Fail to remove a chunk to transmiter");
      } else if (!chunkJournal_->Delete(chunk.key)) {
        LogText(CLogger::kError, kAddFunction, "Fail to delete a chunk info from DB");
      }
      return true;
    }
    if (ack == kMoveConflict || ack == kCopyConflict) {
      const bool move = ack == kMoveConflict;
      LogText(move ? CLogger::kInfo : CLogger::kWarn, kAddFunction,
              move ? "!!!Move a conflict file" : "!!!Copy a conflict file");
      MoveConflictAside(upload);
      return true;
    }
    // An unknown step: the file is not stored and its row stays as it was.
    LogF(CLogger::kFatal, kAddFunction, "Fail to get a valid ack: %s", ack.c_str());
    syncOk_ = 0;
    return true;
  }
}

// Sends the chunk the service asked for and records its storage key. On
// return true `asked` is the chunk as stored, for the report.
bool CWork::SendChunk(CUploadFile& upload, CChunkInfo& asked) {
  CFileInfo& file = upload.file;
  const CChunkInfo* local = nullptr;
  for (const CChunkInfo& chunk : file.chunks) {
    if (strcasecmp(chunk.key.c_str(), asked.key.c_str()) == 0) local = &chunk;
  }
  if (!local) {
    LogText(CLogger::kError, kAddFunction, "Fail to get designed chunk");
    syncOk_ = 0;
    return false;
  }
  CChunkInfo chunk = *local;
  chunk.storageId = asked.storageId;
  const std::size_t at = file.chunkList.find(chunk.key);
  const int32_t index = at == std::string::npos ? 0 : static_cast<int32_t>(at / kChunkListStride);
  fileCache_->SetStatusRecord(upload.rel, 2, upload.total, index * kMiBPerChunk);
  std::unique_ptr<CChunkBuffer> bytes = ChunkBytes(upload, chunk);
  if (!bytes) {
    syncOk_ = 0;
    return false;
  }
  const bool sent = SendChunkBytes(upload, chunk, *bytes);
  if (file.size < kMemoryThreshold) {
    file.AddChunkBuffer(chunk.key, std::move(bytes));  // the service may ask for it again
  } else {
    upload.cacheBuffer = std::move(bytes);
  }
  if (!sent) return false;
  if (!chunkJournal_->UpdateStorageKey(chunk.key, chunk.storageId)) {
    LogText(CLogger::kError, kAddFunction, "Fail to add a chunk info to DB");
    syncOk_ = 0;
    return false;
  }
  asked = chunk;
  return true;
}

// The chunk's bytes: below the memory threshold the buffer the cutting kept,
// from it on the chunk read back from the cache into the file's one buffer.
std::unique_ptr<CChunkBuffer> CWork::ChunkBytes(CUploadFile& upload, const CChunkInfo& chunk) {
  if (upload.file.size < kMemoryThreshold) {
    std::unique_ptr<CChunkBuffer> buffer = upload.file.TakeChunkBuffer(chunk.key);
    if (!buffer) LogText(CLogger::kError, kAddFunction, "Fail to get designed chunk");
    return buffer;
  }
  // A chunk whose caching failed while the file was cut is not at hand:
  // nothing else may be sent in its place.
  CChunkInfo cached;
  std::unique_ptr<CChunkBuffer> buffer = std::move(upload.cacheBuffer);
  if (!buffer) buffer = std::make_unique<CChunkBuffer>(kChunkSize);
  if (!fileCache_->FindCachedChunk(chunk.key, cached) || !fileCache_->GetChunkCache(chunk, *buffer)) {
    LogF(CLogger::kError, kAddFunction, "Fail to get chunk of file: %s", upload.rel.c_str());
    upload.cacheBuffer = std::move(buffer);
    return nullptr;
  }
  return buffer;
}

// A changed file first tries the chunk as a delta against the old version's
// blocks; the whole chunk follows when that is not possible or fails.
bool CWork::SendChunkBytes(CUploadFile& upload, CChunkInfo& chunk, const CChunkBuffer& bytes) {
  std::string result;
  if (upload.canDelta) {
    CChunkBuffer delta(0);
    if (upload.journal.MakeDelta(bytes, delta)) {
      if (transmitter_->UploadChunk(chunk, delta, result, 1)) return true;
      LogText(CLogger::kError, kAddFunction, "Fail to upload a chunk to transmiter");
    }
  }
  if (transmitter_->UploadChunk(chunk, bytes, result, 0)) return true;
  LogText(CLogger::kError, kAddFunction, "Fail to upload a chunk to transmiter");
  const std::string reason = transmitter_->GetReason();
  if (!reason.empty()) transferReason_ = reason;  // the run's end says why (a full disk at the service)
  syncOk_ = 0;
  return false;
}

// The service stores the version that was read. A file changed since its
// scan is recorded as that version all the same (it is what the service
// holds): the pass repeats and sends the change against it.
void CWork::FinishUpload(CUploadFile& upload, CUploadWalk& walk) {
  CFileInfo now;
  if (!fileCache_->LookupLocal(upload.rel, now) || now.size != upload.file.size || now.mtime != upload.file.mtime) {
    LogF(CLogger::kInfo, kAddFunction, "File {%s} changed while it was uploaded", upload.rel.c_str());
    resync_ = 1;
  }
  if (!fileJournal_->AddActive(upload.file)) {
    LogF(CLogger::kError, kAddFunction, "Fail to add a file {%s} to DB", upload.rel.c_str());
    syncOk_ = 0;
    return;
  }
  MarkSynchronised(upload.rel);
  FileFinished(upload.rel, walk);
  LogF(CLogger::kInfo, kAddFunction, "Upload a file {%s)", upload.rel.c_str());
}

// The service holds another version than the one the local change started
// from: the local file moves to its conflict name and the row goes, so the
// repeated pass brings the service's version in and uploads the copy.
void CWork::MoveConflictAside(CUploadFile& upload) {
  const std::string aside = CUtil::ConflictName(upload.rel);
  if (!fileCache_->Rename(upload.rel, aside)) {
    LogF(CLogger::kError, kAddFunction, "Fail to rename to confict file {%s}", upload.rel.c_str());
    syncOk_ = 0;
    return;
  }
  if (upload.known && !fileJournal_->Remove(upload.key)) {
    LogF(CLogger::kError, kAddFunction, "Fail to delete file {%s} from DB", upload.key.c_str());
    syncOk_ = 0;
  }
  resync_ = 1;
}

// ---------------------------------------------------------------------------
// Entries left out

void CWork::UploadRefused(const CUploadFile& upload) {
  const NameProblem* problem = ServerNameProblem(upload.serverPath);
  if (!problem || back_->GetReason() != "9") {
    syncOk_ = 0;
    return;
  }
  back_->ClearLastReason();  // dealt with: not the reason of a failed run
  LeaveOut(upload.rel, problem->log, problem->shown);
}

void CWork::LeaveOut(const std::string& rel, const char* logReason, const char* shownReason) {
  const std::string shown = PrintablePath(rel);
  LogF(CLogger::kWarn, "CWork::LeaveOut", "Leave {%s} out of the synchronisation: %s", shown.c_str(), logReason);
  // A folder left out covers what it holds: the user is told of the folder.
  const auto above = leftOut_.upper_bound(rel);
  if (above != leftOut_.begin() && IsAtOrBelow(std::prev(above)->first, rel)) return;
  leftOut_[rel] = shownReason;
  fileCache_->SetPathLeftOut(rel);
  const std::string parent = ParentFolder(rel);
  if (!parent.empty()) fileCache_->SetStatusUpTo(parent, 3, "");  // nothing else of theirs waits for it
  if (!namedLeftOut_.insert(rel).second) return;
  Balloon(StrFormat("%s%s（%s）", LocalText("无法同步: ").c_str(), shown.c_str(), LocalText(shownReason).c_str()),
          GetUser());
}

// ---------------------------------------------------------------------------
// Folder statuses

void CWork::FolderFinished(const std::string& rel, CUploadWalk& walk) {
  if (!walk.rememberedFolder.empty()) {
    std::string stop = ParentFolder(rel);
    fileCache_->MakeLocalPath(stop);
    fileCache_->SetStatusUpTo(walk.rememberedFolder, 3, stop);
  }
  walk.rememberedFolder = rel;
}

void CWork::FileFinished(const std::string& rel, CUploadWalk& walk) {
  walk.lastFinished = rel;
  if (walk.rememberedFolder.empty()) {
    walk.rememberedFolder = ParentFolder(rel);
    return;
  }
  if (IsAtOrBelow(walk.rememberedFolder, rel)) return;
  // The walk left the remembered folder: it and the folders above it are
  // done, up to the ones this file shares with it.
  std::string stop = ParentFolder(rel);
  fileCache_->MakeLocalPath(stop);
  fileCache_->SetStatusUpTo(walk.rememberedFolder, 3, stop);
  walk.rememberedFolder.clear();
}
