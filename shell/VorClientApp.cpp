#include "shell/VorClientApp.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>

#include "engine/AppLog.h"
#include "engine/Work.h"
#include "foundation/Config.h"
#include "foundation/Logger.h"
#include "platform/DesktopOpen.h"
#include "shell/AboutDlg.h"
#include "shell/DialogKit.h"
#include "shell/LocalText.h"
#include "shell/LoginDlg.h"
#include "shell/MainFrame.h"
#include "shell/Option.h"
#include "shell/ShellSink.h"
#include "shell/UpdateChecker.h"
#include "shell/WebHost.h"

namespace {

constexpr const char* kBoxTitle = "Vessa";

// The auth_server in client.db before a worker has loaded the settings (the
// start-up's update check runs first); the built-in default without one.
std::string StoredAuthServer() {
  const std::string database = CWork::DataFolder() + "/.db/client.db";
  std::error_code ec;
  std::string server;
  if (std::filesystem::is_regular_file(database, ec)) {
    CConfig config;
    if (config.Init(database) && config.Load()) server = config.Get(CConfig::kAuthServer);
  }
  return server.empty() ? std::string(CConfig::kDefaultAuthServer) : server;
}

// Runs `show` unless a dialog of its kind is open already.
template <typename Show>
void ShowOnce(bool& shown, Show show) {
  if (shown) return;
  shown = true;
  show();
  shown = false;
}

}  // namespace

CVorClientApp::CVorClientApp() = default;

CVorClientApp::~CVorClientApp() {
  DropWorker();
  if (logger_) {
    if (AppLogger() == logger_.get()) SetAppLogger(nullptr);
    logger_.reset();  // writes the closing separator
  }
  if (sink_ && frameHandle_) sink_->UnregisterWindow(frameHandle_);
  frame_.reset();
  sink_.reset();
}

// ---------------------------------------------------------------------------
// Start-up

bool CVorClientApp::Start() {
  CreateFrame();
  if (!HoldSingleInstance()) return false;
  if (CheckForUpdate(true)) {
    exitRequested_ = true;  // the new setup will replace this program
    return false;
  }
  return InitApp() != 0;
}

void CVorClientApp::CreateFrame() {
  if (frame_) return;
  frame_ = std::make_unique<CMainFrame>(*this);
  sink_ = std::make_unique<CShellSink>(frame_.get(), *frame_);
  frameHandle_ = sink_->RegisterWindow(frame_.get(), frame_.get());
  frame_->hide();  // the program lives in the tray
  frame_->setWindowTitle(kMainWindowTitle);
}

bool CVorClientApp::HoldSingleInstance() {
  if (instance_.Acquire() != platform::CSingleInstance::Result::kHeldElsewhere) return true;
  ShowBox(nullptr, QMessageBox::Warning, kBoxTitle, QString::fromUtf8("程序已在运行中，无法再启用另一个拷贝"));
  return false;
}

int CVorClientApp::OpenLog() {
  if (logger_) return 1;
  logger_ = OpenAppLog();
  if (!logger_) {
    ShowBox(nullptr, QMessageBox::Warning, kBoxTitle, "Log File could not be opened!");
    return 0;
  }
  SetAppLogger(logger_.get());
  return 1;
}

int CVorClientApp::InitApp() {
  OpenLog();
  if (!StartWorker()) return 0;
  LogText(CLogger::kInfo, "CVorClientApp::InitApp", "running...");
  LogInOrAsk();
  return 1;
}

int CVorClientApp::StartWorker() {
  DropWorker();
  work_ = std::make_unique<CWork>(*sink_, *sink_);
  if (work_->Init() == 1) return 1;
  ShowBox(nullptr, QMessageBox::Warning, kBoxTitle, "Fail to start Worker!");
  DropWorker();
  return 0;
}

void CVorClientApp::LogInOrAsk() {
  CConfig& config = work_->GetConfig();
  if (!work_->GetUser().empty() && !work_->GetPassword().empty() && !config.Get(CConfig::kHostName).empty()) {
    work_->Request(WM_WORK_LOGIN, 0);  // nobody waits for the answer
    return;
  }
  if (config.Get(CConfig::kHostName).empty()) config.Set(CConfig::kHostId, "");
  ShowLoginDialog();  // a cancelled dialog leaves the program in the tray
}

void CVorClientApp::DropWorker() {
  if (!work_) return;
  // A worker blocked in a notice must not wait for this thread, which now
  // waits for the worker's threads to end.
  sink_->SetOpen(false);
  work_.reset();
  sink_->SetOpen(true);
}

// ---------------------------------------------------------------------------
// Commands

WorkState CVorClientApp::State() const {
  WorkState state;
  state.workerExists = work_ != nullptr;
  state.loggedIn = work_ && work_->IsLoggedIn();
  state.syncEnabled = work_ && work_->IsSyncEnabled();
  return state;
}

bool CVorClientApp::IsEnabled(int id) const { return IsCommandEnabled(id, State()); }

void CVorClientApp::OnCommand(int id) {
  if (!IsEnabled(id)) return;
  switch (id) {
    case cmd::kLogin:
    case cmd::kTrayLogin: ShowLoginDialog(); break;
    case cmd::kLogout:
    case cmd::kTrayLogout: Logout(); break;
    case cmd::kSync:
    case cmd::kTraySync: Synchronise(); break;
    case cmd::kLocalFolder: OpenLocalFolder(); break;
    case cmd::kWebFolder: OpenWebPage(web::kFilesPage); break;
    case cmd::kHelp: OpenWebPage(web::kManualPage); break;
    case cmd::kOptions:
    case cmd::kOptionsButton: ShowOptions(); break;
    case cmd::kAbout:
    case cmd::kAboutMain: ShowAbout(); break;
    case cmd::kExit: Exit(); break;
    case cmd::kCheckUpdateButton: CheckForUpdate(false); break;
    default: break;
  }
}

void CVorClientApp::ShowLoginDialog() {
  ShowOnce(loginShown_, [this] {
    CLoginDlg dialog(*this);
    dialog.exec();
  });
}

void CVorClientApp::ShowOptions() {
  ShowOnce(optionsShown_, [this] {
    COption dialog(*this);
    dialog.exec();
  });
}

void CVorClientApp::ShowAbout() {
  CAboutDlg dialog(WebHost(AuthServer()));
  dialog.exec();
}

bool CVorClientApp::CheckForUpdate(bool quiet) {
  CUpdateChecker checker(WebHost(AuthServer()), quiet);
  return checker.Check();
}

void CVorClientApp::Logout() {
  if (!work_) return;
  Notice status;
  status.id = WM_SETMESSAGESTRING;
  status.text = LocalFromUtf8("注销中...");
  frame_->HandleNotice(status);
  work_->Request(WM_WORK_LOGOUT, frameHandle_);
}

void CVorClientApp::Synchronise() {
  if (work_) work_->Request(WM_WORK_SYNC, frameHandle_);
}

void CVorClientApp::OpenLocalFolder() {
  if (!work_) return;
  const CConfig& config = work_->GetConfig();
  OpenFolder(config.Get(CConfig::kRootPath) + "/" + config.Get(CConfig::kLoginUser));
}

void CVorClientApp::OpenFolder(const std::string& folder) { platform::OpenWithDesktop(folder); }

void CVorClientApp::OpenWebPage(const char* path) {
  const std::string url = WebPage(AuthServer(), path);
  if (!url.empty()) platform::OpenWithDesktop(url);
}

void CVorClientApp::Exit() {
  exitRequested_ = true;
  QCoreApplication::exit(0);
}

std::string CVorClientApp::AuthServer() const {
  return work_ ? work_->GetConfig().Get(CConfig::kAuthServer) : StoredAuthServer();
}

// ---------------------------------------------------------------------------
// Data-folder move

bool CVorClientApp::LogoutAndWait(int timeoutMs) {
  if (!work_) return true;
  bool answered = false;
  QEventLoop loop;
  const auto connection = connect(this, &CVorClientApp::logoutAnswered, &loop, [&] {
    answered = true;
    loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  Logout();
  loop.exec();
  disconnect(connection);
  return answered;
}

void CVorClientApp::StopWorkerAndLog() {
  DropWorker();
  if (logger_) {
    if (AppLogger() == logger_.get()) SetAppLogger(nullptr);
    logger_.reset();
  }
}

void CVorClientApp::LogoutDone() { emit logoutAnswered(); }
