#include "shell/MainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <vector>

#include "engine/Work.h"
#include "foundation/Util.h"
#include "shell/Commands.h"
#include "shell/FileViews.h"
#include "shell/Icons.h"
#include "shell/LocalText.h"
#include "shell/RecentUpdates.h"
#include "shell/VorClientApp.h"

namespace {

constexpr int kBalloonTimeoutMs = 1000;
constexpr int kClientWidth = 600;
constexpr int kClientHeight = 400;

// "&" in a file name must not become a menu mnemonic.
QString MenuLabel(const std::string& local) { return Ui(local).replace("&", "&&"); }

}  // namespace

CMainFrame::CMainFrame(CVorClientApp& app) : app_(app), tray_(this) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(kMainWindowTitle);
  setWindowIcon(ResourceIcon(icon::kProgram));

  splitter_ = new QSplitter(Qt::Horizontal, this);
  leftView_ = new CLeftView(splitter_);
  listView_ = new CVorClientView(splitter_);
  splitter_->addWidget(leftView_);
  splitter_->addWidget(listView_);
  splitter_->setSizes({1000, 0});
  setCentralWidget(splitter_);

  BuildMainMenu();
  // One message pane and the three keyboard indicators.
  for (const char* indicator : {"CAP", "NUM", "SCRL"}) {
    auto* label = new QLabel(indicator, this);
    label->setEnabled(false);
    statusBar()->addPermanentWidget(label);
  }
  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());

  BuildTrayMenu();
  connect(&tray_, &CTray::doubleClicked, this, &CMainFrame::TrayDoubleClicked);
  tray_.Add();
  tray_.LoggedOut();
}

CMainFrame::~CMainFrame() = default;  // the tray removes its icon and stops blinking

// ---------------------------------------------------------------------------
// Menus

QAction* CMainFrame::AddCommand(QMenu* menu, const char* text, int id) {
  QAction* action = menu->addAction(QString::fromUtf8(text));
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, id] { app_.OnCommand(id); });
  return action;
}

void CMainFrame::ApplyEnableRules(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    bool ok = false;
    const int id = action->data().toInt(&ok);
    if (ok && id != 0) action->setEnabled(app_.IsEnabled(id));
  }
}

void CMainFrame::BuildMainMenu() {
  QMenu* operations = menuBar()->addMenu(QString::fromUtf8("操作"));
  for (const auto& [text, id] : std::vector<std::pair<const char*, int>>{
           {"登录(&L)\tCTRL+L", cmd::kLogin},
           {"注销(&N)\tCTRL+N", cmd::kLogout},
           {"同步(&S)\tCTRL+S", cmd::kSync},
           {"注册(&R)\tCTRL+R", cmd::kRegister},
           {"共享(&A)", cmd::kShare},
           {"历史(&H)", cmd::kHistory},
           {"选项(&O)", cmd::kMainOptions}}) {
    mainMenuActions_[id] = AddCommand(operations, text, id);
  }
  QMenu* help = menuBar()->addMenu(QString::fromUtf8("帮助"));
  mainMenuActions_[cmd::kAboutMain] = AddCommand(help, "about Vessa(&A)...", cmd::kAboutMain);
  for (QMenu* menu : {operations, help}) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { ApplyEnableRules(menu); });
    ApplyEnableRules(menu);
  }
}

QAction* CMainFrame::MainMenuAction(int id) const {
  const auto found = mainMenuActions_.find(id);
  return found == mainMenuActions_.end() ? nullptr : found->second;
}

void CMainFrame::BuildTrayMenu() {
  trayMenu_ = new QMenu(this);
  AddCommand(trayMenu_, "Web文件夹(&W)", cmd::kWebFolder);
  localFolderAction_ = AddCommand(trayMenu_, "本地文件夹(&E)", cmd::kLocalFolder);
  trayMenu_->addSeparator();
  AddCommand(trayMenu_, "同步(&S)", cmd::kTraySync);
  AddCommand(trayMenu_, "登录(&L)", cmd::kTrayLogin);
  AddCommand(trayMenu_, "注销(&N)", cmd::kTrayLogout);
  trayMenu_->addSeparator();
  AddCommand(trayMenu_, "选项(&O)", cmd::kOptions);
  AddCommand(trayMenu_, "关于(&A)", cmd::kAbout);
  AddCommand(trayMenu_, "帮助", cmd::kHelp);
  AddCommand(trayMenu_, "退出(&X)", cmd::kExit);

  recentMenu_ = new QMenu(QString::fromUtf8("文件更新(&U)"), trayMenu_);
  recentMenuAction_ = recentMenu_->menuAction();
  trayMenu_->insertAction(trayMenu_->actions().value(0), recentMenuAction_);
  recentMenuAction_->setVisible(false);
  connect(recentMenu_, &QMenu::triggered, this, [this](QAction* action) { OpenRecent(action->data().toInt()); });
  connect(trayMenu_, &QMenu::aboutToShow, this, &CMainFrame::PrepareTrayMenu);
  tray_.SetContextMenu(trayMenu_);
}

std::map<int, std::string> CMainFrame::FillRecentMenu(QMenu& menu, const std::vector<std::string>& finished) {
  menu.clear();
  std::map<int, std::string> folders;
  if (finished.empty()) {
    QAction* none = menu.addAction("None");
    none->setData(cmd::kRecentNone);
    none->setEnabled(false);
    return folders;
  }
  for (const RecentUpdate& item : BuildRecentUpdates(finished)) {
    folders[item.id] = item.folder;
    QAction* action = menu.addAction(MenuLabel(item.label));
    action->setData(item.id);
  }
  return folders;
}

void CMainFrame::PrepareTrayMenu() {
  CWork* work = app_.Work();
  recentMenuAction_->setVisible(work != nullptr);
  if (work) {
    std::vector<std::string> finished;
    std::string entry;
    for (std::size_t i = 0; work->GetFinished(i, entry); ++i) finished.push_back(entry);
    recentFolders_ = FillRecentMenu(*recentMenu_, finished);
  }
  ApplyEnableRules(trayMenu_);
  recentMenuAction_->setEnabled(true);
  trayMenu_->setDefaultAction(localFolderAction_);
}

void CMainFrame::OpenRecent(int id) {
  const auto found = recentFolders_.find(id);
  if (found == recentFolders_.end() || !CUtil::FolderExists(found->second)) return;
  app_.OpenFolder(found->second);
}

// ---------------------------------------------------------------------------
// Tray and window

void CMainFrame::TrayDoubleClicked() {
  if (shown_) {
    hide();
    shown_ = false;
  } else {
    shown_ = true;
  }
  app_.OpenLocalFolder();
}

void CMainFrame::HideToTray() {
  hide();
  tray_.ShowBalloon("I am here", "Vessa", kBalloonTimeoutMs);  // shown whatever the notices switch says
  shown_ = false;
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
    // The window is not minimised: it goes back to the tray.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    HideToTray();
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  event->accept();
  app_.Exit();
}

QString CMainFrame::StatusText() const { return statusBar()->currentMessage(); }

// ---------------------------------------------------------------------------
// Notices

void CMainFrame::HandleNotice(const Notice& notice) {
  switch (notice.id) {
    case WM_SHOW_STATUS:
      tray_.SetToolTip(Utf8Cut(notice.text, tray::kToolTipBytes));
      break;
    case WM_SET_TRAY_STATE:
      tray_.SetState(notice.state, Utf8Cut(notice.text, tray::kToolTipBytes));
      break;
    case WM_SHOW_BALLOON: {
      CWork* work = app_.Work();
      if (work && work->GetConfig().GetShowNotices()) {
        tray_.ShowBalloon(Utf8Cut(notice.text, tray::kBalloonTextBytes),
                          Utf8Cut(notice.title, tray::kBalloonTitleBytes), kBalloonTimeoutMs);
      }
      break;
    }
    case WM_SETMESSAGESTRING:
      statusBar()->showMessage(Ui(notice.text));
      break;
    default:
      break;
  }
}

void CMainFrame::HandleLoggedIn(const std::string& user) { tray_.LoggedIn(Utf8Cut(user, tray::kToolTipBytes)); }

void CMainFrame::HandleLoggedOut() { tray_.LoggedOut(); }

void CMainFrame::OnWorkerAnswer(unsigned message, uintptr_t) {
  if (message != WM_WORK_LOGOUT_DONE) return;
  // The worker cleared its logged-in and sync-enabled flags before answering.
  tray_.StopBlinking();
  statusBar()->showMessage(QString::fromUtf8("注销成功"));
  app_.LogoutDone();
}
