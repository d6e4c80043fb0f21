// CWork: authentication, login with host registration, heartbeat and watcher
// start, and the system-message thread.
#include <cstdlib>
#include <ctime>

#include "engine/AppLog.h"
#include "engine/PathSafety.h"
#include "engine/Work.h"
#include "engine/TransferLanes.h"
#include "engine/WorkInternal.h"
#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "protocol/Auth.h"
#include "protocol/HeartBeat.h"
#include "store/ChunkJournal.h"
#include "store/FileCache.h"
#include "store/FileJournal.h"
#include "store/FileSystemWatcher.h"

namespace {

// File name, folder name, size and last-write changes.
constexpr uint32_t kWatchFilter = 0x1B;
constexpr int kWatcherStopMs = 100;

// The service asks the client to register the computer again.
bool HostRegistrationLost(int reason) { return reason == 2 || reason == 28; }

// A user name that names one folder directly below the root folder.
bool IsUsableUserFolderName(const std::string& user) {
  return user.find_first_of("/\\") == std::string::npos && IsSafeRelativePath("/" + user);
}

}  // namespace

template <typename Client>
void CWork::GiveProxy(Client& client) {
  // The proxy page's type counts only while its "use a proxy" box is ticked.
  const std::string mode = config_.GetProxyFlag() ? config_.Get(CConfig::kProxyType) : std::string();
  client.SetProxy(mode, config_.Get(CConfig::kProxyAddr), config_.Get(CConfig::kProxyUser),
                  config_.Get(CConfig::kProxyPasswd));
}

bool CWork::PrepareLane(CTransferLane& lane) {
  const std::string user = GetUser();
  const std::string password = GetPassword();
  const std::string hostId = config_.Get(CConfig::kHostId);
  const std::string installPath = config_.Get(CConfig::kInstallPath);
  GiveProxy(lane.back);
  if (!lane.back.Init(config_.Get(CConfig::kBackServer), user, password, hostId, installPath)) return false;
  lane.back.SetCredentials(user, password, config_.Get(CConfig::kPassport));
  GiveProxy(lane.transmitter);
  return lane.transmitter.Init(config_.Get(CConfig::kTransmiterServer), user, password, hostId, installPath) == 1;
}

// ---------------------------------------------------------------------------
// Authentication

int CWork::SeverAuth() {
  constexpr const char* kFunction = "CWork::SeverAuth";
  LogText(CLogger::kInfo, kFunction, std::string(80, '+'));
  Message("Connecting Auth...");
  Status(LocalText("连接认证服务器..."));
  cancel_ = 0;
  const std::string url = config_.Get(CConfig::kAuthServer);
  if (url.find("http://") == std::string::npos && url.rfind("https://", 0) != 0) {
    // No authentication server: the digests go out in upper case.
    CUtil::SetDigestUpperCase(1);
    return 1;
  }
  CUtil::SetDigestUpperCase(0);
  const std::string user = GetUser();
  const std::string password = GetPassword();
  auth_->Init(url, user, password);  // the server and user of this login
  for (;;) {
    auth_->SetDomain(config_.Get(CConfig::kDomain));
    GiveProxy(*auth_);
    std::string passport;
    if (auth_->Request(passport, user, password)) {
      std::string back;
      std::string transmitter;
      std::string heartbeat;
      auth_->GetServers(back, transmitter, heartbeat);
      config_.Set(CConfig::kPassport, passport);
      config_.Set(CConfig::kDomain, auth_->GetDomain());
      config_.Set(CConfig::kBackServer, back);
      config_.Set(CConfig::kTransmiterServer, transmitter);
      config_.Set(CConfig::kHeartbeatServer, heartbeat);
      LogF(CLogger::kInfo, kFunction, "Auth OK: %s", user.c_str());
      return 1;
    }
    if (auth_->GetHttpCode() != 0) {
      LogF(CLogger::kError, kFunction, "%s Auth failed:%d", user.c_str(), auth_->GetHttpCode());
      Status(LocalText(" 认证失败 "));
      Balloon(LocalText(" 认证失败 "), user);
      return 0;
    }
    LogText(CLogger::kError, kFunction, "No response from Auth server, reconnecting...");
    Status(LocalText("认证服务器没有响应,重新连接..."));
    if (!loginCancel_ && !Pause(ProcessTiming().authRetryMs.load(), &loginCancel_)) return 0;
    if (loginCancel_) {
      loginCancel_ = 0;
      LogText(CLogger::kInfo, kFunction, "login cancel");
      Status(LocalText("退出登录 "));
      return 0;
    }
    Status(LocalText("连接认证服务器..."));
  }
}

// ---------------------------------------------------------------------------
// Login

int CWork::Login() {
  constexpr const char* kFunction = "CWork::Login";
  // A cancel pressed while no login ran belongs to no login: it must not end
  // this one's first retry.
  loginCancel_ = 0;
  declinedRemovals_.clear();
  if (!AppLogger()) {
    ownLogger_ = OpenAppLog();
    if (ownLogger_) {
      ownLogger_->SetLevel(config_.Get(CConfig::kLogLevel));  // the level Init would have applied
      SetAppLogger(ownLogger_.get());
    }
  }
  if (!SeverAuth()) return 0;
  Status(LocalText("连接 back服务器..."));
  const std::string user = GetUser();
  const std::string password = GetPassword();
  const std::string installPath = config_.Get(CConfig::kInstallPath);
  GiveProxy(*back_);
  if (!back_->Init(config_.Get(CConfig::kBackServer), user, password, config_.Get(CConfig::kHostId), installPath)) {
    LogText(CLogger::kError, kFunction, "Fail to Init Backer");
    Status(LocalText("初始化back服务器失败"));
    return 0;
  }
  GiveProxy(*transmitter_);
  if (!transmitter_->Init(config_.Get(CConfig::kTransmiterServer), user, password, config_.Get(CConfig::kHostId),
                          installPath)) {
    LogText(CLogger::kError, kFunction, "Fail to Init Transmitter");
    Status(LocalText("初始化Transmitter 失败"));
    return 0;
  }
  back_->SetCredentials(user, password, config_.Get(CConfig::kPassport));
  const std::string rootPath = config_.Get(CConfig::kRootPath);
  fileCache_->SetCache(rootPath + "/.cache");
  const std::string userFolder = rootPath + "/" + user;
  LogF(CLogger::kInfo, kFunction, "User folder: %s", userFolder.c_str());
  if (!IsUsableUserFolderName(user)) {
    // The user folder must be one folder directly below the root folder.
    LogF(CLogger::kError, kFunction, "%s", (LocalText("Fail to create a local user folder： ") + userFolder).c_str());
    Status(LocalText("创建用户本地根目录失败： ") + userFolder);
    return 0;
  }
  if (!RegisterAndLogin(userFolder)) return 0;
  // The transmitter was made before the registration could change the host id.
  transmitter_->SetHostId(config_.Get(CConfig::kHostId));

  // The folder icon is written anew: a watcher still running from an earlier
  // login would report that write as a change of the user's.
  StopFileMonitor();
  if (!fileCache_->SetRoot(userFolder)) {
    LogF(CLogger::kError, kFunction, "%s", (LocalText("Fail to create a local user folder： ") + userFolder).c_str());
    Status(LocalText("创建用户本地根目录失败： ") + userFolder);
    return 0;
  }
  fileCache_->SetHomeIcon(userFolder);
  syncEnabled_ = 1;
  loggedIn_ = 1;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    finished_.clear();
  }
  ++loginGeneration_;
  Request(WM_WORK_SYNC, 0);
  StartFileMonitor(userFolder);
  StartHeartBeat();
  Status(user);
  notices_.ShowLoggedInIcon(user);
  return 1;
}

// Registers the computer when needed and logs in to the back server, again
// and again while the service says it lost the registration.
int CWork::RegisterAndLogin(const std::string& userFolder) {
  constexpr const char* kFunction = "CWork::Login";
  const std::string loginFailed = LocalText("Login failed：");
  for (;;) {
    if (stopping_) return 0;
    if (firstSync_ || config_.Get(CConfig::kHostId).empty()) {
      std::string hostId;
      if (!back_->GetHostID(config_.Get(CConfig::kHostName), hostId)) {
        LogText(CLogger::kError, kFunction, loginFailed + back_->GetReason());
        Status(LocalText("登录失败"));
        return 0;
      }
      config_.Set(CConfig::kHostId, hostId);
      back_->SetHostId(hostId);
      if (firstSync_) {
        if (CUtil::FolderExists(userFolder) &&
            !prompt_.AskOkCancel(LocalText("本地已存在该用户数据文件夹，此文件夹下原有文件将被同步到服务器"))) {
          return 0;
        }
        fileJournal_->CleanDB();
        chunkJournal_->CleanDB();
      }
    }
    fileCache_->CleanCache();
    std::string result;
    if (back_->Login(result)) {
      config_.Store();
      return 1;
    }
    const std::string text = loginFailed + back_->GetReason();
    Message(text);
    LogText(CLogger::kError, kFunction, text);
    Status(LocalText("登录失败"));
    if (!HostRegistrationLost(std::atoi(back_->GetLastReason().c_str()))) return 0;
    config_.Set(CConfig::kHostId, "");
    Balloon(LocalText("本机与服务器的主机连接已被断开，将重新连接服务器获取新凭证..."), GetUser());
  }
}

// ---------------------------------------------------------------------------
// Heartbeat and watcher

void CWork::StartHeartBeat() {
  if (heartBeat_) return;
  auto* beat = new CHeartBeat();
  GiveProxy(*beat);
  std::future<void> ended = beat->ThreadEnded();
  if (!beat->Init(&queue_, config_.Get(CConfig::kHeartbeatServer), GetUser(), GetPassword(),
                  config_.Get(CConfig::kHostId), config_.Get(CConfig::kInstallPath))) {
    LogText(CLogger::kFatal, "CWork::StartHeartBeat", "Fail to Init HeartBeater");
    delete beat;  // no thread took it
    return;
  }
  heartBeat_ = beat;
  heartBeatEnded_ = std::move(ended);
}

void CWork::StopHeartBeat() {
  if (!heartBeat_) return;
  heartBeat_->Stop();  // ends its wait or call at once
  heartBeat_ = nullptr;
  // Its thread deletes it; once it has, nothing posts to this queue any more.
  if (heartBeatEnded_.valid()) heartBeatEnded_.wait();
}

void CWork::StartFileMonitor(const std::string& root) {
  if (!watcher_) watcher_ = std::make_unique<CFileSystemWatcher>();
  if (!watcher_->Run(root, true, kWatchFilter, &CWork::CheckFiles, this)) {
    LogF(CLogger::kError, "CWork::StartFileMonitor", "Fail to monitor root: %s", root.c_str());
  }
  LogF(CLogger::kInfo, "CWork::StartFileMonitor", "Mointor root: %s", root.c_str());
}

void CWork::StopFileMonitor() {
  if (watcher_) watcher_->Stop(kWatcherStopMs);
}

// ---------------------------------------------------------------------------
// System messages

void CWork::GetSystemMessage(CWork* work) {
  if (!work) {
    LogText(CLogger::kFatal, "CWork::GetSystemMessage", "Failed for getting a NULL param!");
    return;
  }
  work->SystemMessageLoop();
}

void CWork::SystemMessageLoop() {
  constexpr const char* kFunction = "CWork::GetSystemMessage";
  CWorkBack back;
  {
    std::lock_guard<std::mutex> lock(messengerMutex_);
    messengerBack_ = &back;
  }
  const Timing& timing = ProcessTiming();
  int generation = -1;
  for (;;) {
    if (!Pause(timing.systemMessageFirstMs.load())) break;
    if (!loggedIn_ || !syncEnabled_) {
      if (!Pause(timing.systemMessageRetryMs.load())) break;
      continue;
    }
    if (generation != loginGeneration_) {
      // The same endpoint and credentials as the worker's login (password
      // digest and passport).
      generation = loginGeneration_;
      GiveProxy(back);
      if (!back.Init(config_.Get(CConfig::kBackServer), GetUser(), GetPassword(), config_.Get(CConfig::kHostId),
                     config_.Get(CConfig::kInstallPath))) {
        LogText(CLogger::kError, kFunction, "Fail to Init Backer");
        Status(LocalText("初始化back服务器失败"));
        break;
      }
      back.SetCredentials(GetUser(), GetPassword(), config_.Get(CConfig::kPassport));
    }
    CInfoAttrMap messages;
    if (!back.GetSystemMessage(messages)) {
      LogText(CLogger::kError, kFunction, "fail to get system message!");
      if (!Pause(timing.systemMessageRetryMs.load())) break;
      continue;
    }
    ShowSystemMessages(messages);
    if (!Pause(timing.systemMessageIntervalMs.load())) break;
  }
  std::lock_guard<std::mutex> lock(messengerMutex_);
  messengerBack_ = nullptr;
}

// New messages raise the last id seen; only those not expired are shown.
void CWork::ShowSystemMessages(const CInfoAttrMap& messages) {
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  int newest = lastMessageId_;
  for (const auto& [id, message] : messages) {
    if (id <= newest) continue;
    newest = id;
    if (static_cast<int64_t>(message.expireTime) > now) {
      Balloon(message.info, GetUser());
      if (!Pause(ProcessTiming().systemMessageGapMs.load())) break;
    }
  }
  lastMessageId_ = newest;
}
