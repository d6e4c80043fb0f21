#pragma once
// CWork: the sync engine. One object owns everything that touches the service
// or the local store (settings, both journals, the file cache, the service
// clients, the heartbeat and the folder watcher) and runs all synchronisation
// work on one worker thread, which takes requests from its queue in order:
//
//   WM_WORK_LOGIN   wParam: window to answer   -> Login, then Post WM_WORK_LOGIN_DONE (wParam 1/0)
//   WM_WORK_LOGOUT  wParam: window to answer   -> Logout, then Post WM_WORK_LOGOUT_DONE
//   WM_WORK_SYNC    wParam: window or 0        -> one synchronisation run (CheckSync)
//   WM_WORK_RENAME  text "old|new"             -> Rename(old, new), "\" read as "/"
//   WM_WORK_CHANGED (heartbeat)                -> a run, unless one is already due
//   anything else                              -> ignored
//
// The worker reports through an INoticeSink and asks through an IUserPrompt.
// A run repeats its pass while changes arrive during it; a file that fails
// only makes the run end "unfinished" (tray state 0 instead of 2).
//
// Threads: the worker, the system-message thread (from Init), the heartbeat
// and the watcher (from the login). Shared flags are atomics; every wait is
// taken from ProcessTiming() and ends early on logout or destruction. The
// destructor ends every thread it started before it returns.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/ChangeFilter.h"
#include "foundation/Config.h"
#include "platform/MessageQueue.h"
#include "platform/NoticeSink.h"
#include "platform/UserPrompt.h"
#include "store/FileInfo.h"

class CAuth;
class CChunkJournal;
class CFileCache;
class CFileJournal;
struct CFileItem;
class CFileSystemWatcher;
class CHeartBeat;
class CJournalSession;
class CLogger;
class CWorkBack;
class CWorkTransmitter;
class CTransferLanes;
class CDownloadAhead;
class CReplacingFile;
struct CTransferLane;
class CChunkBuffer;
struct CChunkInfo;
struct CUploadFile;
struct CUploadWalk;
struct CLocalRemoval;

class CWork {
 public:
  // A pass that would remove more entries than this on the service (or every
  // entry the journal holds) asks the user first; declined, nothing is
  // removed and the run ends unfinished. A declined set is not asked again
  // until the next login or the user's own "sync now" (a WM_WORK_SYNC with
  // a window).
  static constexpr std::size_t kMassRemoval = 1000;

  CWork(INoticeSink& notices, IUserPrompt& prompt);
  ~CWork();
  CWork(const CWork&) = delete;
  CWork& operator=(const CWork&) = delete;

  // The root folder that holds the settings (root/.db/client.db), as Init
  // finds it: the registry's root_path when set, else $HOME/Vessa. Usable
  // before Init; creates nothing.
  static std::string DataFolder();

  // Finds the folders (install folder, root folder, root/.db/client.db),
  // loads the settings and fills their defaults, makes the journals, the file
  // cache and the clients, and starts the worker and the system-message
  // threads. 1 when the worker is ready; 0 after a failure (logged).
  int Init();

  // Queues a request for the worker (any thread). A logout request sets the
  // cancel flag first, so a run in progress stops at its next check.
  // `text` is the "old|new" text of WM_WORK_RENAME. 1 when queued.
  int Request(unsigned message, uintptr_t wParam = 0, const std::string& text = std::string());

  // ---- what the user interface reads and sets ----
  std::string GetUser() const;
  std::string GetPassword() const;
  // The login dialog's entries, used by the next login.
  void SetUser(const std::string& user, const std::string& password);
  int IsLoggedIn() const { return loggedIn_.load(); }
  int IsSyncEnabled() const { return syncEnabled_.load(); }
  // Makes the next login clean the journals and the next pass a full one.
  void SetFirstSync(int on) { firstSync_ = on ? 1 : 0; }
  // 1 until a full first synchronisation pass has succeeded.
  int IsFirstSync() const { return firstSync_.load(); }
  // Ends a login that keeps retrying an authentication server that does not answer.
  void SetLoginCancel(int on);
  CConfig& GetConfig() { return config_; }
  // Files a run downloaded, updated or removed locally since the login:
  // action word ("下载", "修改", "删除" in the local code page), a blank, the
  // absolute local path.
  std::size_t FinishedCount() const;
  bool GetFinished(std::size_t index, std::string& entry) const;
  // 0 while the engine writes the path (or something below it), 1 once it
  // is synchronised, -1 when unknown.
  int GetMark(const std::string& path) const;

  // The watcher's callback (watcher thread): turns changes into requests.
  static void CheckFiles(int action, const std::string& path, void* worker);

 private:
  // ---- start-up, queue and the run (WorkStart.cpp) ----
  static int WorkThreadProc(CWork* work);
  void RequestLoop();
  void Dispatch(const QueuedMessage& message);
  void HandleRename();
  int CheckSync();
  int Sync();
  void EndOfRun(size_t finishedBefore);
  int Logout();
  void AddFinished(const char* action, const std::string& path);
  void SetMark(const std::string& path, int value);
  // Waits up to `ms` milliseconds; false when the wait ended for a stop.
  bool Pause(int ms, const std::atomic<int>* alsoEndOn = nullptr);
  void WakeWaits();
  void StopThreads();

  // ---- transfer lanes ----
  // What the files in flight may hold in memory together (one always goes).
  static constexpr int64_t kLaneMemoryBudget = int64_t{16} << 20;
  // transfer_lanes from the settings: 1 to 8, 3 when unset or unreadable.
  int TransferLaneCount() const;
  // Gives a lane's clients the login's settings (WorkLogin.cpp).
  bool PrepareLane(CTransferLane& lane);
  // While a phase's lanes run, a logout or the destructor ends their calls.
  class CLanesInUse {
   public:
    CLanesInUse(CWork& work, CTransferLanes& lanes);
    ~CLanesInUse();
    CLanesInUse(const CLanesInUse&) = delete;
    CLanesInUse& operator=(const CLanesInUse&) = delete;

   private:
    CWork& work_;
  };
  void AbortLanes();

  // ---- login and system messages (WorkLogin.cpp) ----
  int SeverAuth();
  int Login();
  int RegisterAndLogin(const std::string& userFolder);
  void StartHeartBeat();
  void StopHeartBeat();
  void StartFileMonitor(const std::string& root);
  void StopFileMonitor();
  template <typename Client>
  void GiveProxy(Client& client);
  static void GetSystemMessage(CWork* work);
  void SystemMessageLoop();
  void ShowSystemMessages(const CInfoAttrMap& messages);

  // ---- listing phase (WorkListing.cpp) ----
  int GetAll();
  int GetServerList();
  void GetServerAdd(const std::map<std::string, CFileInfo>& listing);
  void GetServerDelete(const std::map<std::string, CFileInfo>& listing);
  int GetFile(const CFileInfo& file);
  // Refuses (logged, sync-OK cleared) a listed entry whose path could lead
  // outside the user folder.
  bool AcceptServerEntry(const CFileInfo& file);
  void NoteDroppedEntries(const char* function);

  // ---- download phase: decisions (WorkReconcile.cpp) ----
  int Download();
  // Opens the journal, loads its map and share map (failures logged under
  // `function`) and begins the phase's batch.
  int OpenJournalForPhase(CJournalSession& session, const char* function);
  int CheckDownload(CJournalSession& session);
  std::vector<CFileInfo> FilesToFetchAhead();
  int CheckDownloadFetchingAhead(CJournalSession& session, const std::vector<CFileInfo>& expected);
  // Scans the user folder once per download phase, for the shared folders
  // found on disk (a share renamed on the server moves its folder along).
  // Each row's decision looks its one local entry up instead.
  int ScanForDownload(const char* function);
  int CheckDelete();
  // Removes the local entry of a row pending removal, or sets it aside when it
  // is neither of the row's versions (a local change the service never saw).
  int ServerDeleteFile(const std::string& path, const CFileItem& row);
  int CheckNew(const CFileInfo& updated);
  int CheckUpdated(const CFileInfo& active, const CFileInfo& updated);
  int SetAside(const std::string& rel, const char* failureFormat);
  int BringIn(const CFileInfo& updated);
  void MarkShared(const std::string& rel, const CFileInfo& shared);
  int SetTimeFrom(const CFileInfo& version, const std::string& rel);
  void MarkSynchronised(const std::string& rel);
  // Server path -> path relative to the user folder, refused (logged) when
  // it cannot be trimmed or would leave the user folder. Every local write
  // of the engine goes through it.
  int LocalPath(const std::string& serverPath, std::string& rel) const;

  // ---- download phase: transfers (WorkDownload.cpp) ----
  int GetbyLocal(const CFileInfo& updated);
  int DownloadNewFile(const CFileInfo& updated);
  int DownloadUpdatedFile(const CFileInfo& active, const CFileInfo& updated);
  int DownloadFileChunks(CFileInfo& file, const std::string& rel);
  int ReplaceFileChunks(const CFileInfo& active, CFileInfo& file, const std::string& relOld, const std::string& relNew);
  int RecordAdjustedTime(CFileInfo& file, const CFileInfo& updated);
  int RecordAndMakeFile(CFileInfo& file, const std::string& rel, bool chunksComplete, const char* function,
                        CReplacingFile* assembly = nullptr);

  // ---- upload phase: additions and changes (WorkUpload.cpp) ----
  int Upload();
  int ReloadJournalMaps();
  // False when a logout ended the walk.
  bool CheckLocalAdd(CJournalSession& session);
  // True when the entry was sent (or handed to a lane).
  bool UploadEntry(const CFileInfo& scanned, CUploadWalk& walk);
  void UploadShareFolder(CUploadFile& upload, CUploadWalk& walk);
  void UploadFolder(CUploadFile& upload, CUploadWalk& walk);
  void UploadFile(const std::shared_ptr<CUploadFile>& upload, CUploadWalk& walk);
  void RepairModifyTime(CUploadFile& upload);
  void LoadFailed(const CUploadFile& upload);
  void JournalFailed(CUploadFile& upload);
  // On a lane (these only post what must be recorded):
  std::function<void()> SendFile(const std::shared_ptr<CUploadFile>& upload, CTransferLane& lane, CUploadWalk& walk);
  std::function<void()> RunUploadDialogue(const std::shared_ptr<CUploadFile>& upload, std::string ack,
                                          CChunkInfo chunk, CTransferLane& lane, CUploadWalk& walk);
  bool SendChunk(const std::shared_ptr<CUploadFile>& upload, CChunkInfo& asked, CTransferLane& lane,
                 CTransferLanes& lanes);
  std::unique_ptr<CChunkBuffer> ChunkBytes(CUploadFile& upload, const CChunkInfo& chunk, std::size_t index);
  bool SendChunkBytes(CUploadFile& upload, CChunkInfo& chunk, const CChunkBuffer& bytes, CTransferLane& lane,
                      CTransferLanes& lanes);
  // Back on the worker:
  void FinishUpload(CUploadFile& upload, CUploadWalk& walk);
  void MoveConflictAside(CUploadFile& upload);
  // An upload the service refused: one refused for the entry's name leaves
  // that entry out of the pass (true); any other refusal fails the run.
  bool UploadRefused(const CUploadFile& upload);
  // Leaves an entry out of this pass: logged, status 4, and named to the user
  // once per login. A run whose only gaps are such entries ends "synced
  // except N entries"; the next runs try them again.
  void LeaveOut(const std::string& rel, const char* logReason, const char* shownReason);
  void FolderFinished(const std::string& rel, CUploadWalk& walk);
  void FileFinished(const std::string& rel, CUploadWalk& walk);

  // ---- upload phase: removals, and renames (WorkRemove.cpp) ----
  void CheckLocalDelete();
  // Asks before one pass removes more than kMassRemoval entries, or every
  // entry the journal holds, on the service. False: nothing may be removed.
  // `digest` names the set, to know a set the user declined.
  bool RemovalsAllowed(const std::vector<CLocalRemoval>& removals, std::size_t inSync, const std::string& digest);
  void ReportRemoval(const CLocalRemoval& removal, std::string& parentFolder);
  int Rename(const std::string& oldPath, const std::string& newPath);

  // ---- notices ----
  void Status(const std::string& text);
  void Tray(int state, const std::string& tip);
  void Balloon(const std::string& text, const std::string& title);
  void Message(const std::string& text);

  INoticeSink& notices_;
  IUserPrompt& prompt_;
  CMessageQueue queue_;
  std::mutex renameMutex_;
  std::deque<std::string> renameTexts_;  // one per queued WM_WORK_RENAME, in order

  CConfig config_;
  std::unique_ptr<CWorkTransmitter> transmitter_;
  std::unique_ptr<CFileCache> fileCache_;
  std::unique_ptr<CFileJournal> fileJournal_;
  std::unique_ptr<CChunkJournal> chunkJournal_;
  std::unique_ptr<CWorkBack> back_;
  CHeartBeat* heartBeat_ = nullptr;  // owned by its own thread once started
  std::future<void> heartBeatEnded_;
  std::unique_ptr<CAuth> auth_;
  std::unique_ptr<CFileSystemWatcher> watcher_;
  std::unique_ptr<CLogger> ownLogger_;  // the log the login opened when there was none
  CChangeFilter changeFilter_;           // watcher thread only

  std::atomic<int> syncOk_{0};
  std::atomic<int> syncEnabled_{0};
  std::atomic<int> resync_{0};
  std::atomic<int> firstSync_{0};
  std::atomic<int> loggedIn_{0};
  std::atomic<int> cancel_{0};
  std::atomic<int> loginCancel_{0};
  std::atomic<int> stopping_{0};
  std::atomic<int> loginGeneration_{0};  // counts successful logins, for the system-message client
  std::atomic<int> lastMessageId_{0};
  std::atomic<int> userAskedRun_{0};  // the run in progress was asked for by the user (sync now)
  std::atomic<int> syncQueued_{0};    // the watcher's WM_WORK_SYNC waits in the queue
  std::string lastRemovals_;          // worker only: the removals the last pass saw
  std::string declinedRemovals_;      // worker only: the removals the user refused, until the next login
  std::map<std::string, std::string> leftOut_;  // worker only: this pass's entries left out, and why
  std::set<std::string> namedLeftOut_;          // worker only: entries named to the user since the login
  std::string transferReason_;                  // worker only: the run's last reason code from the transmitter
  bool downloadScanned_ = false;
  CDownloadAhead* downloadAhead_ = nullptr;  // worker only: the download phase's read-ahead      // worker only: the download phase has scanned the folder

  mutable std::mutex stateMutex_;  // the strings and lists below
  std::string user_;
  std::string password_;
  std::vector<std::string> finished_;
  std::map<std::string, int> marks_;

  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::mutex lanesMutex_;
  CTransferLanes* lanesInUse_ = nullptr;  // the running phase's lanes, for AbortLanes
  std::mutex messengerMutex_;
  CWorkBack* messengerBack_ = nullptr;  // the system-message thread's client, for Abort
  std::thread worker_;
  std::thread messenger_;
};
