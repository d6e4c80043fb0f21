// CWork: start-up, the request queue, the synchronisation run, logout, the
// watcher callback and destruction.
#include <cstdlib>
#include <system_error>

#include "engine/Work.h"
#include "engine/TransferLanes.h"
#include "engine/WorkInternal.h"
#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "platform/Paths.h"
#include "protocol/Auth.h"
#include "protocol/HeartBeat.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"
#include "store/FileSystemWatcher.h"

namespace {

constexpr const char* kLoggedOutTip = "Ordane Storage Service";
constexpr unsigned kWakeOnly = 0;  // a message that only wakes the worker's queue

// A registry folder value: used when set and the folder exists (or, with
// `create`, could be made).
bool UsableFolder(const std::string& value, bool create) {
  if (value.empty()) return false;
  return create ? CUtil::CreateFolderIfMissing(value) : CUtil::FolderExists(value);
}

}  // namespace

CWork::CWork(INoticeSink& notices, IUserPrompt& prompt) : notices_(notices), prompt_(prompt) {}

CWork::~CWork() {
  StopThreads();
  if (ownLogger_ && AppLogger() == ownLogger_.get()) SetAppLogger(nullptr);
}

// Ends every thread this object started. Each wait they make ends on the
// stop flag and the calls in flight are aborted, so this is prompt; the one
// call that cannot be aborted is an authentication exchange, bounded by its
// own time-out.
void CWork::StopThreads() {
  stopping_ = 1;
  cancel_ = 1;
  loginCancel_ = 1;
  WakeWaits();
  if (back_) back_->AbortCall();
  if (transmitter_) transmitter_->AbortCall();
  AbortLanes();
  {
    std::lock_guard<std::mutex> lock(messengerMutex_);
    if (messengerBack_) messengerBack_->AbortCall();
  }
  queue_.Post(kWakeOnly);
  if (worker_.joinable()) worker_.join();
  StopHeartBeat();
  // The callback never waits, so the watcher thread ends at once; waiting
  // for it keeps it from calling into a destroyed worker.
  if (watcher_) watcher_->Stop(-1);
  if (messenger_.joinable()) messenger_.join();
}

void CWork::AbortLanes() {
  std::lock_guard<std::mutex> lock(lanesMutex_);
  if (lanesInUse_) lanesInUse_->Abort();
}

CWork::CLanesInUse::CLanesInUse(CWork& work, CTransferLanes& lanes) : work_(work) {
  std::lock_guard<std::mutex> lock(work_.lanesMutex_);
  work_.lanesInUse_ = &lanes;
  if (work_.cancel_) lanes.Abort();  // a logout asked before the lanes were there
}

CWork::CLanesInUse::~CLanesInUse() {
  std::lock_guard<std::mutex> lock(work_.lanesMutex_);
  work_.lanesInUse_ = nullptr;
}

int CWork::TransferLaneCount() const {
  const std::string text = config_.Get(CConfig::kTransferLanes);
  const int count = std::atoi(text.c_str());
  return count >= 1 && count <= 8 ? count : 3;
}

// ---------------------------------------------------------------------------
// Start-up

std::string CWork::DataFolder() {
  std::string rootPath;
  if (CUtil::ReadRootPath(rootPath) && !rootPath.empty()) return rootPath;
  return platform::HomeDir() + "/Vessa";
}

int CWork::Init() {
  constexpr const char* kFunction = "CWork::Init";
  if (worker_.joinable()) {
    LogText(CLogger::kFatal, kFunction, "Worker started before!");
    return 0;
  }
  std::string installPath;
  if (!CUtil::ReadInstallPath(installPath) || !UsableFolder(installPath, false)) {
    installPath = platform::DefaultInstallDir();
  }
  std::string rootPath = DataFolder();
  if (!UsableFolder(rootPath, true)) {
    rootPath = platform::HomeDir() + "/Vessa";
    CUtil::CreateFolderIfMissing(rootPath);
  }
  const std::string dbFolder = rootPath + "/.db";
  CUtil::CreateFolderIfMissing(dbFolder);  // a failure shows when the database is opened
  const std::string dbPath = CUtil::PathToUtf8(dbFolder + "/client.db");

  if (!config_.Init(dbPath)) {
    LogText(CLogger::kFatal, kFunction, "DB file could not be opened!");
    return 0;
  }
  if (!config_.Load()) {
    const std::string text = StrFormat("Fail to open DB \"%s\"", dbPath.c_str());
    LogText(CLogger::kFatal, kFunction, text);
    prompt_.ShowError(text);
    return 0;
  }
  config_.Set(CConfig::kInstallPath, installPath);
  config_.Set(CConfig::kRootPath, rootPath);
  config_.FillEmptyDefaults();
  if (!config_.Store()) {
    const std::string text = "Fail to open \"/client.db\"";
    LogText(CLogger::kFatal, kFunction, text);
    prompt_.ShowError(text);
    return 0;
  }
  if (CLogger* logger = AppLogger()) logger->SetLevel(config_.Get(CConfig::kLogLevel));

  back_ = std::make_unique<CWorkBack>();
  transmitter_ = std::make_unique<CWorkTransmitter>();
  fileJournal_ = std::make_unique<CFileJournal>();
  chunkJournal_ = std::make_unique<CChunkJournal>();
  if (!fileJournal_->Init(dbPath) || !chunkJournal_->Init(dbPath)) {
    LogText(CLogger::kFatal, kFunction, "DB file could not be opened!");
    return 0;
  }
  fileCache_ = std::make_unique<CFileCache>();
  fileCache_->SetErrorPrompt([this](const std::string& text) {
    prompt_.ShowError(text);
    return 1;
  });
  if (!fileCache_->Init(rootPath)) {
    LogF(CLogger::kError, kFunction, "Fail to scan directory \"%s\"", rootPath.c_str());
    return 0;
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    user_ = config_.Get(CConfig::kLoginUser);
    password_ = config_.Get(CConfig::kLoginPasswd);
  }
  auth_ = std::make_unique<CAuth>();
  if (!auth_->Init(config_.Get(CConfig::kAuthServer), GetUser(), GetPassword())) {
    LogText(CLogger::kError, kFunction, "Fail to get a auth!");
  }

  // The threads start once everything they use exists.
  try {
    worker_ = std::thread(WorkThreadProc, this);
  } catch (const std::system_error&) {
    LogText(CLogger::kFatal, kFunction, "Fail to create thread worker");
    return 0;
  }
  try {
    messenger_ = std::thread(GetSystemMessage, this);
  } catch (const std::system_error&) {
    LogText(CLogger::kFatal, kFunction, "Fail to create thread for getting system Message");
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Requests

int CWork::Request(unsigned message, uintptr_t wParam, const std::string& text) {
  if (stopping_) {
    LogF(CLogger::kError, "CWork::Request", "Fail to post message %u to work thread", message);
    return 0;
  }
  if (message == WM_WORK_LOGOUT) {
    cancel_ = 1;
    WakeWaits();
    AbortLanes();
  }
  if (message == WM_WORK_RENAME) {
    std::lock_guard<std::mutex> lock(renameMutex_);
    renameTexts_.push_back(text);
  }
  queue_.Post(message, wParam, 0);
  return 1;
}

int CWork::WorkThreadProc(CWork* work) {
  if (!work) {
    LogText(CLogger::kFatal, "CWork::WorkThreadProc", "Failed for getting a NULL param!");
    return -1;
  }
  work->RequestLoop();
  return 0;
}

void CWork::RequestLoop() {
  for (;;) {
    const QueuedMessage message = queue_.Get();
    if (stopping_) return;
    Dispatch(message);
  }
}

void CWork::Dispatch(const QueuedMessage& message) {
  switch (message.message) {
    case WM_WORK_LOGIN: {
      const int ok = Login();
      notices_.Post(message.wParam, WM_WORK_LOGIN_DONE, ok ? 1 : 0);
      break;
    }
    case WM_WORK_LOGOUT:
      Logout();
      notices_.Post(message.wParam, WM_WORK_LOGOUT_DONE, 0);
      break;
    case WM_WORK_SYNC:
      syncQueued_ = 0;  // changes from now on need a run of their own
      // A window asks only for the user's own "sync now".
      userAskedRun_ = message.wParam != 0 ? 1 : 0;
      CheckSync();
      userAskedRun_ = 0;
      break;
    case WM_WORK_RENAME:
      HandleRename();
      break;
    case WM_WORK_CHANGED:
      if (resync_ != 1) {
        resync_ = 1;
        Request(WM_WORK_SYNC, 0);
      }
      break;
    default:
      break;  // a quit message among them: the worker lives on
  }
}

void CWork::HandleRename() {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(renameMutex_);
    if (renameTexts_.empty()) return;
    text = std::move(renameTexts_.front());
    renameTexts_.pop_front();
  }
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  const std::size_t bar = text.find('|');
  if (bar == std::string::npos) {
    LogF(CLogger::kError, "CWork::HandleRename", "Fail to split rename text {%s}", text.c_str());
    return;
  }
  Rename(text.substr(0, bar), text.substr(bar + 1));
}

// ---------------------------------------------------------------------------
// The run

int CWork::CheckSync() {
  const std::size_t finishedBefore = FinishedCount();
  std::string earlierFullFolder;
  fileCache_->TakeNoSpaceFolder(earlierFullFolder);  // this run reports its own
  transferReason_.clear();
  syncEnabled_ = 0;
  do {
    const std::size_t finishedAtPass = FinishedCount();
    resync_ = 0;
    syncOk_ = 1;
    Tray(1, GetUser());
    Message("Sync...");
    Status(LocalText("同步..."));
    if (!Sync()) {
      syncOk_ = 0;
      if (heartBeat_) heartBeat_->SetSyncOk(0);
      const std::string reason = back_->GetLastReason();
      back_->ClearReason();
      const int code = std::atoi(reason.c_str());
      if (reason.empty()) {
        syncEnabled_ = 1;
        Message(LocalText("同步未完成"));
        Tray(0, GetUser());
        Status(LocalText("同步未完成"));
        return 0;
      }
      if (code == 28 || code == 29) {
        // The login went stale at the service: log in again within this run.
        back_->FreeAxis2c();
        transmitter_->FreeAxis2c();
        if (!Login()) {
          Tray(0, GetUser());
          return 0;
        }
      } else {
        syncEnabled_ = 1;
        const std::string text = LocalText("服务器信息: ") + CUtil::ServerErrorText(code);
        Message(text);
        Tray(0, GetUser());
        Status(text);
        return 0;
      }
    }
    // The pass's own writes come back from the watcher as changes, and a
    // change made meanwhile may still be going on: the pause lets them
    // arrive, so that the pass repeats within this run. A pass that wrote
    // nothing while nothing changed has nothing to wait for.
    const bool settle = resync_ != 0 || FinishedCount() != finishedAtPass;
    if (settle && !Pause(ProcessTiming().passPauseMs.load(), &cancel_)) return 0;  // destruction
  } while (resync_ != 0);
  EndOfRun(finishedBefore);
  return 1;
}

void CWork::EndOfRun(size_t finishedBefore) {
  // Entries left out are tried again: the heartbeat keeps asking for runs.
  if (heartBeat_) heartBeat_->SetSyncOk(syncOk_ == 1 && leftOut_.empty() ? 1 : 0);
  const std::string user = GetUser();
  if (syncOk_ == 1) {
    if (!fileCache_->CleanCache()) LogText(CLogger::kWarn, "CWork::CheckSync", "Fail to clean local cache");
    syncEnabled_ = 1;
    if (leftOut_.empty()) {
      Message("Sync finished");
      Status(LocalText("同步完成"));
      Tray(2, user);
    } else {
      const std::string except = StrFormat(LocalText("已同步，%zu 个项目除外").c_str(), leftOut_.size());
      Message(StrFormat("Sync finished except %zu entries", leftOut_.size()));
      Status(except);
      Tray(2, user + " - " + except);
    }
    std::string last;
    const std::size_t count = FinishedCount();
    if (count > finishedBefore && GetFinished(count - 1, last)) {
      Balloon(StrFormat("%s%s...", LocalText("同步完成: ").c_str(), last.c_str()), user);
    }
    return;
  }
  syncEnabled_ = 1;
  Tray(0, user);
  Message("Sync unfinished");
  Status(LocalText("同步未完成"));
  const std::string reason = back_->GetLastReason().empty() ? transferReason_ : back_->GetLastReason();
  if (!reason.empty()) {
    Status(LocalText("服务器信息: ") + CUtil::ServerErrorText(std::atoi(reason.c_str())));
  }
  std::string fullFolder;
  if (fileCache_->TakeNoSpaceFolder(fullFolder)) {
    const std::string text = LocalText("磁盘空间不足，无法写入: ") + fullFolder;
    LogF(CLogger::kError, "CWork::CheckSync", "No space left on the disk of %s", fullFolder.c_str());
    Status(text);
    Balloon(text, user);
  }
}

int CWork::Sync() {
  constexpr const char* kFunction = "CWork::Sync";
  leftOut_.clear();
  LogText(CLogger::kInfo, kFunction, "----------------------- sync start---------------------------");
  if (firstSync_) {
    LogText(CLogger::kInfo, kFunction, "---- download all ----");
    fileJournal_->CleanDB();
    if (!GetAll()) return 0;
    firstSync_ = 0;
  } else {
    LogText(CLogger::kInfo, kFunction, "---- get job ----");
    if (!GetServerList()) return 0;
  }
  LogText(CLogger::kInfo, kFunction, "---- downloading  ----");
  if (!Download()) return 0;
  LogText(CLogger::kInfo, kFunction, "---- upload ----");
  if (!Upload()) return 0;
  LogText(CLogger::kInfo, kFunction, "------------------------ sync end ---------------------------");
  CUtil::RefreshExplorer();
  return 1;
}

int CWork::Logout() {
  StopHeartBeat();
  StopFileMonitor();
  back_->FreeAxis2c();
  transmitter_->FreeAxis2c();
  loggedIn_ = 0;
  syncEnabled_ = 0;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    finished_.clear();
  }
  namedLeftOut_.clear();
  cancel_ = 0;
  Tray(0, kLoggedOutTip);
  Status(kLoggedOutTip);
  notices_.ShowLoggedOutIcon();
  return 1;
}

// ---------------------------------------------------------------------------
// The watcher callback

void CWork::CheckFiles(int action, const std::string& path, void* worker) {
  constexpr const char* kFunction = "CWork::CheckFiles";
  auto* work = static_cast<CWork*>(worker);
  if (!work) return;
  switch (action) {
    case 1: LogF(CLogger::kInfo, kFunction, "Added     - %s\n", path.c_str()); break;
    case 2: LogF(CLogger::kInfo, kFunction, "Removed   - %s\n", path.c_str()); break;
    case 3: LogF(CLogger::kInfo, kFunction, "Modified   - %s\n", path.c_str()); break;
    case 4: LogF(CLogger::kInfo, kFunction, "Rename(O)   - %s\n", path.c_str()); break;
    case 5: LogF(CLogger::kInfo, kFunction, "Rename(N)   - %s\n", path.c_str()); break;
    default: LogF(CLogger::kInfo, kFunction, "Monitor---ERROR---   - %s\n", path.c_str()); break;
  }
  const CChangeFilter::Step step =
      work->changeFilter_.OnChange(action, path, [work] { return work->syncEnabled_.load() == 1; });
  switch (step.kind) {
    case CChangeFilter::Step::kSync:
      // One waiting run sees every change made before it starts: a burst of
      // changes (a folder copied in) asks for one run, not one per change.
      if (work->syncQueued_.exchange(1) == 0 && !work->Request(WM_WORK_SYNC, 0)) work->syncQueued_ = 0;
      break;
    case CChangeFilter::Step::kRename:
      work->Request(WM_WORK_RENAME, 0, step.renameText);
      break;
    case CChangeFilter::Step::kResync:
      work->resync_ = 1;
      break;
    case CChangeFilter::Step::kNothing:
      break;
  }
}

// ---------------------------------------------------------------------------
// Finished files, marks and the shared strings

void CWork::AddFinished(const char* action, const std::string& path) {
  std::string full = path;
  fileCache_->MakeLocalPath(full);
  std::lock_guard<std::mutex> lock(stateMutex_);
  finished_.push_back(LocalText(action) + " " + full);
}

std::size_t CWork::FinishedCount() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return finished_.size();
}

bool CWork::GetFinished(std::size_t index, std::string& entry) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (index >= finished_.size()) return false;
  entry = finished_[index];
  return true;
}

void CWork::SetMark(const std::string& path, int value) {
  std::string key = path;
  for (char& c : key) {
    if (c == '\\') c = '/';
  }
  key = CFileJournal::ToKey(key);
  std::lock_guard<std::mutex> lock(stateMutex_);
  marks_[key] = value;
  if (value == 1) return;
  // The folders above a path being written are being written too.
  for (std::size_t slash = key.rfind('/'); slash != std::string::npos && slash > 0; slash = key.rfind('/')) {
    key.resize(slash);
    marks_[key] = value;
  }
}

int CWork::GetMark(const std::string& path) const {
  const std::string key = CFileJournal::ToKey(path);
  std::lock_guard<std::mutex> lock(stateMutex_);
  const auto found = marks_.find(key);
  return found == marks_.end() ? -1 : found->second;
}

std::string CWork::GetUser() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return user_;
}

std::string CWork::GetPassword() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return password_;
}

void CWork::SetUser(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  user_ = user;
  password_ = password;
}

void CWork::SetLoginCancel(int on) {
  loginCancel_ = on ? 1 : 0;
  if (on) WakeWaits();
}

// ---------------------------------------------------------------------------
// Waits

bool CWork::Pause(int ms, const std::atomic<int>* alsoEndOn) {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  wake_.wait_for(lock, std::chrono::milliseconds(ms),
                 [&] { return stopping_ != 0 || (alsoEndOn && alsoEndOn->load() != 0); });
  return stopping_ == 0;
}

void CWork::WakeWaits() {
  { std::lock_guard<std::mutex> lock(wakeMutex_); }  // a waiter now sees the flag or gets the notice
  wake_.notify_all();
}

// ---------------------------------------------------------------------------
// Notices

void CWork::Status(const std::string& text) { notices_.Send({WM_SHOW_STATUS, 0, text, ""}); }

void CWork::Tray(int state, const std::string& tip) { notices_.Send({WM_SET_TRAY_STATE, state, tip, ""}); }

void CWork::Balloon(const std::string& text, const std::string& title) {
  notices_.Send({WM_SHOW_BALLOON, 0, text, title});
}

void CWork::Message(const std::string& text) { notices_.Send({WM_SETMESSAGESTRING, 0, text, ""}); }
