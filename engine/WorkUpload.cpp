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

#include "engine/PathSafety.h"
#include "engine/TransferLanes.h"
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

// One walk: the lanes its files travel on, and the folder statuses
// (finished entries of one folder keep it "in progress" until the walk
// leaves it), which the lanes' completions keep in walk order.
struct CUploadWalk {
  explicit CUploadWalk(CTransferLanes& lanes) : lanes(lanes) {}
  CTransferLanes& lanes;
  std::string rememberedFolder;  // root-relative; empty: none
  std::string lastFinished;
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
  int32_t total = 0;                         // progress: the size's low 32 bits
  std::unique_ptr<CChunkBuffer> readBuffer;  // the one 4 MiB buffer of a large file
  std::string reason;                        // the back server's reason for a refusal
  bool journalFailed = false;                // worker only: a row of this upload could not be written
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
  CFileInfo scanned;
  for (int more = fileCache_->FirstLocal(scanned); more; more = fileCache_->NextLocal(scanned)) {
    if (stopped()) return false;
    std::string serverPath = scanned.path;
    CFileItem row;
    if (!fileJournal_->MakeDBServerPath(serverPath)) continue;
    if (fileJournal_->FindItem(CFileJournal::ToKey(serverPath), row) != 1) fileCache_->SetPathStatus(scanned.path, 1);
  }
  CTransferLanes lanes(TransferLaneCount(), kLaneMemoryBudget, [this](CTransferLane& lane) { return PrepareLane(lane); });
  if (lanes.Count() == 0) {
    LogText(CLogger::kError, kAddFunction, "Fail to set up a transfer lane");
    syncOk_ = 0;
    return true;
  }
  CLanesInUse inUse(*this, lanes);
  CUploadWalk walk(lanes);
  for (int more = fileCache_->FirstLocal(scanned); more && !cancel_; more = fileCache_->NextLocal(scanned)) {
    const bool wrote = UploadEntry(scanned, walk);
    // What the walk recorded is kept now: a batch held over the transfers
    // would hold client.db's write lock for all of them.
    if (lanes.RunEvents() > 0 || wrote) session.Checkpoint();
  }
  // After a logout too: the files that finished are recorded (the lanes'
  // calls are aborted, so this is prompt).
  lanes.Finish();
  if (stopped()) return false;
  if (syncOk_ == 1) {
    if (!walk.lastFinished.empty()) fileCache_->SetStatusUpTo(walk.lastFinished, 3, "");
    if (!walk.rememberedFolder.empty()) fileCache_->SetStatusUpTo(walk.rememberedFolder, 3, "");
  }
  return true;
}

bool CWork::UploadEntry(const CFileInfo& scanned, CUploadWalk& walk) {
  const auto shared = std::make_shared<CUploadFile>();
  CUploadFile& upload = *shared;
  upload.rel = scanned.path;
  upload.serverPath = scanned.path;
  if (!fileJournal_->MakeDBServerPath(upload.serverPath)) {
    LogF(CLogger::kError, kAddFunction, "Fail to make server path for file {%s}", upload.rel.c_str());
    syncOk_ = 0;
    return false;
  }
  upload.key = CFileJournal::ToKey(upload.serverPath);
  CFileItem row;
  upload.known = fileJournal_->FindItem(upload.key, row) == 1;
  if (upload.known && row.onDisk != 1) {
    // The service holds a version the download phase could not bring in
    // yet: sending the local one would replace it unseen. The next pass
    // downloads it first (and sets a differing local copy aside).
    LogF(CLogger::kInfo, kAddFunction, "Leave {%s} to the download of its server version", upload.rel.c_str());
    return false;
  }
  if (upload.known && row.active.IsSame(scanned)) {
    fileCache_->SetPathStatus(upload.rel, 3);
    return false;
  }
  if (upload.known && row.active.dir > 1 && scanned.dir == 1) {
    // A shared folder whose marker is gone (the user is deleting the folder,
    // or removed the hidden file): it stays the shared folder. Recording it
    // as a plain one would cut its content off the share's rows.
    LogF(CLogger::kInfo, kAddFunction, "Shared folder {%s} without its marker: left as it is", upload.rel.c_str());
    return false;
  }
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
    UploadFile(shared, walk);
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
      upload.reason = back_->GetReason();
      if (UploadRefused(upload)) back_->ClearLastReason();  // dealt with: not the reason of a failed run
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
  walk.lanes.Complete([this, rel = upload.rel, &walk] { FolderFinished(rel, walk); });
}

void CWork::UploadFile(const std::shared_ptr<CUploadFile>& upload, CUploadWalk& walk) {
  // What the file holds in memory while it travels: all of its chunks below
  // the memory threshold, from it on one chunk read back at a time.
  const int64_t size = upload->file.size;
  const int64_t held = size < kMemoryThreshold ? size : int64_t{2} * kChunkSize;
  walk.lanes.Submit([this, upload, &walk](CTransferLane& lane) { return SendFile(upload, lane, walk); }, held);
}

// On a lane: cuts the file and takes it through its dialogue with the
// service. What must be recorded goes to the worker as events; the returned
// completion finishes the file there, in walk order.
CTransferLanes::Event CWork::SendFile(const std::shared_ptr<CUploadFile>& upload, CTransferLane& lane,
                                      CUploadWalk& walk) {
  if (cancel_) return nullptr;
  CFileInfo& file = upload->file;
  if (!fileCache_->CutChunks(upload->rel, file)) {
    LogText(CLogger::kError, kAddFunction, "Fail to load a file chunk");
    return [this, upload] { LoadFailed(*upload); };
  }
  const bool wasFile = upload->known && upload->journal.dir == 0;
  if (wasFile && file.size == upload->journal.size && file.chunkList == upload->journal.chunkList) {
    return [this, upload] { RepairModifyTime(*upload); };
  }
  if (wasFile) upload->canDelta = upload->journal.BuildSignature() == 1;  // without one, whole chunks travel
  file.path = upload->serverPath;
  std::string ack;
  CChunkInfo chunk;
  if (!lane.back.Upload(file, wasFile ? &upload->journal : nullptr, ack, chunk)) {
    LogF(CLogger::kError, kAddFunction, "Fail to upload a file {%s}", PrintablePath(upload->rel).c_str());
    upload->reason = lane.back.GetReason();
    return [this, upload] { UploadRefused(*upload); };
  }
  walk.lanes.Post([this, upload, announced = CFileInfo(file)] {
    if (!chunkJournal_->AddFileChunk(announced)) {
      LogText(CLogger::kError, kAddFunction, "Fail to add a chunk info to DB");
      JournalFailed(*upload);
    }
    fileCache_->SetPathStatus(upload->rel, 2);
  });
  upload->total = static_cast<int32_t>(static_cast<uint32_t>(file.size));
  CTransferLanes::Event completion = RunUploadDialogue(upload, ack, chunk, lane, walk);
  file.ClearChunkBuffers();
  upload->readBuffer.reset();
  return completion;
}

void CWork::JournalFailed(CUploadFile& upload) {
  upload.journalFailed = true;
  syncOk_ = 0;
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
// The dialogue of one file, on a lane

CTransferLanes::Event CWork::RunUploadDialogue(const std::shared_ptr<CUploadFile>& upload, std::string ack,
                                               CChunkInfo chunk, CTransferLane& lane, CUploadWalk& walk) {
  const auto failed = [&](const char* text) -> CTransferLanes::Event {
    LogText(CLogger::kError, kAddFunction, text);
    syncOk_ = 0;
    const std::string reason = lane.back.GetLastReason();
    if (reason.empty()) return nullptr;
    return [this, reason] { transferReason_ = reason; };
  };
  for (;;) {
    if (cancel_) {
      LogText(CLogger::kInfo, kAddFunction, kUserLogout);
      syncOk_ = 0;
      return nullptr;
    }
    if (ack == kAllChunkExist) return [this, upload, &walk] { FinishUpload(*upload, walk); };
    if (ack == kUploadChunk) {
      if (!SendChunk(upload, chunk, lane, walk.lanes)) return nullptr;
      CChunkInfo next;
      if (!lane.back.ChunkDone(upload->file, chunk, ack, next)) return failed("Fail to upload a file");
      chunk = next;
      continue;
    }
    if (ack == kRemoveChunk) {
      LogText(CLogger::kInfo, kAddFunction, "Remove a chunk");
      std::string result;
      // A removal names no next step, whatever its outcome: the file is not
      // stored yet, and the next pass announces it again.
      syncOk_ = 0;
      if (!lane.transmitter.RemoveChunk(chunk, result)) {
        LogText(CLogger::kError, kAddFunction, "Fail to remove a chunk to transmiter");
        return nullptr;
      }
      return [this, key = chunk.key] {
        if (!chunkJournal_->Delete(key)) LogText(CLogger::kError, kAddFunction, "Fail to delete a chunk info from DB");
      };
    }
    if (ack == kMoveConflict || ack == kCopyConflict) {
      const bool move = ack == kMoveConflict;
      LogText(move ? CLogger::kInfo : CLogger::kWarn, kAddFunction,
              move ? "!!!Move a conflict file" : "!!!Copy a conflict file");
      return [this, upload] { MoveConflictAside(*upload); };
    }
    // An unknown step: the file is not stored and its row stays as it was.
    LogF(CLogger::kFatal, kAddFunction, "Fail to get a valid ack: %s", ack.c_str());
    syncOk_ = 0;
    return nullptr;
  }
}

// Sends the chunk the service asked for; its storage key is recorded by the
// worker. On return true `asked` is the chunk as stored, for the report.
bool CWork::SendChunk(const std::shared_ptr<CUploadFile>& upload, CChunkInfo& asked, CTransferLane& lane,
                      CTransferLanes& lanes) {
  CFileInfo& file = upload->file;
  std::size_t index = file.chunks.size();
  for (std::size_t i = 0; i < file.chunks.size() && index == file.chunks.size(); ++i) {
    if (strcasecmp(file.chunks[i].key.c_str(), asked.key.c_str()) == 0) index = i;
  }
  if (index == file.chunks.size()) {
    LogText(CLogger::kError, kAddFunction, "Fail to get designed chunk");
    syncOk_ = 0;
    return false;
  }
  CChunkInfo chunk = file.chunks[index];
  chunk.storageId = asked.storageId;
  lanes.Post([this, rel = upload->rel, total = upload->total, index] {
    fileCache_->SetStatusRecord(rel, 2, total, static_cast<int32_t>(index) * kMiBPerChunk);
  });
  std::unique_ptr<CChunkBuffer> bytes = ChunkBytes(*upload, chunk, index);
  if (!bytes) {
    lanes.Post([this, upload] { LoadFailed(*upload); });
    return false;
  }
  const bool sent = SendChunkBytes(*upload, chunk, *bytes, lane, lanes);
  if (file.size < kMemoryThreshold) {
    file.AddChunkBuffer(chunk.key, std::move(bytes));  // the service may ask for it again
  } else {
    upload->readBuffer = std::move(bytes);
  }
  if (!sent) return false;
  lanes.Post([this, upload, key = chunk.key, storageId = chunk.storageId] {
    if (!chunkJournal_->UpdateStorageKey(key, storageId)) {
      LogText(CLogger::kError, kAddFunction, "Fail to add a chunk info to DB");
      JournalFailed(*upload);
    }
  });
  asked = chunk;
  return true;
}

// The chunk's bytes: below the memory threshold the buffer the cutting kept;
// from it on read again from the file, into the file's one buffer, and sent
// only when they still hash to the chunk's key (a file changed since it was
// cut fails here, and the next pass sends its new version).
std::unique_ptr<CChunkBuffer> CWork::ChunkBytes(CUploadFile& upload, const CChunkInfo& chunk, std::size_t index) {
  if (upload.file.size < kMemoryThreshold) {
    std::unique_ptr<CChunkBuffer> buffer = upload.file.TakeChunkBuffer(chunk.key);
    if (!buffer) LogText(CLogger::kError, kAddFunction, "Fail to get designed chunk");
    return buffer;
  }
  std::unique_ptr<CChunkBuffer> buffer = std::move(upload.readBuffer);
  if (!buffer) buffer = std::make_unique<CChunkBuffer>(kChunkSize);
  if (!fileCache_->ReadChunkOfFile(upload.rel, index, chunk, *buffer)) {
    LogF(CLogger::kError, kAddFunction, "Fail to get chunk of file: %s", upload.rel.c_str());
    upload.readBuffer = std::move(buffer);
    return nullptr;
  }
  return buffer;
}

// A changed file first tries the chunk as a delta against the old version's
// blocks; the whole chunk follows when that is not possible or fails.
bool CWork::SendChunkBytes(CUploadFile& upload, CChunkInfo& chunk, const CChunkBuffer& bytes, CTransferLane& lane,
                           CTransferLanes& lanes) {
  std::string result;
  if (upload.canDelta) {
    CChunkBuffer delta(0);
    if (upload.journal.MakeDelta(bytes, delta)) {
      if (lane.transmitter.UploadChunk(chunk, delta, result, 1)) return true;
      LogText(CLogger::kError, kAddFunction, "Fail to upload a chunk to transmiter");
    }
  }
  if (lane.transmitter.UploadChunk(chunk, bytes, result, 0)) return true;
  LogText(CLogger::kError, kAddFunction, "Fail to upload a chunk to transmiter");
  const std::string reason = lane.transmitter.GetReason();
  // The run's end says why (a full disk at the service).
  if (!reason.empty()) lanes.Post([this, reason] { transferReason_ = reason; });
  syncOk_ = 0;
  return false;
}

// The service stores the version that was read. A file changed since its
// scan is recorded as that version all the same (it is what the service
// holds): the pass repeats and sends the change against it.
void CWork::FinishUpload(CUploadFile& upload, CUploadWalk& walk) {
  if (upload.journalFailed) return;  // a chunk row is missing: the next pass announces the file again
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

bool CWork::UploadRefused(const CUploadFile& upload) {
  const NameProblem* problem = ServerNameProblem(upload.serverPath);
  if (!problem || upload.reason != "9") {
    syncOk_ = 0;
    if (!upload.reason.empty()) transferReason_ = upload.reason;
    return false;
  }
  LeaveOut(upload.rel, problem->log, problem->shown);
  return true;
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
