#pragma once
// The main window. It stays hidden; the user meets it as the tray icon with
// its tooltip, balloons and menu. It turns the worker's notices into tray
// and status-bar changes, holds the two file views in a splitter over a
// status bar, and opens the user's folder on a double click of the icon.
#include <QMainWindow>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "shell/ShellSink.h"
#include "shell/Tray.h"

class CLeftView;
class CVorClientApp;
class CVorClientView;
class QAction;
class QMenu;
class QSplitter;

constexpr const char* kMainWindowTitle = "Vessa - Ordane Storage Service";

class CMainFrame : public QMainWindow, public INoticeHandler, public IAnswerWindow {
  Q_OBJECT
 public:
  explicit CMainFrame(CVorClientApp& app);
  ~CMainFrame() override;

  // ---- from the worker (UI thread) ----
  void HandleNotice(const Notice& notice) override;
  void HandleLoggedIn(const std::string& user) override;
  void HandleLoggedOut() override;
  // WM_WORK_LOGOUT_DONE: stops the blinking and says "注销成功".
  void OnWorkerAnswer(unsigned message, uintptr_t wParam) override;

  // ---- the tray ----
  CTray& Tray() { return tray_; }
  // What a right click does before the menu opens: rebuilds "文件更新(&U)"
  // from the worker's finished files, applies the enable rules, marks the
  // default item.
  void PrepareTrayMenu();
  QMenu* TrayMenu() { return trayMenu_; }
  // Double click: the shown flag toggles, the local folder opens.
  void TrayDoubleClicked();
  // Command 32901..32909: opens the remembered folder when it exists.
  void OpenRecent(int id);
  bool ShownFlag() const { return shown_; }
  // Fills the "文件更新(&U)" popup from the finished files (oldest first):
  // "None" (disabled, 32900) for an empty list. The folders of the items,
  // by command id.
  static std::map<int, std::string> FillRecentMenu(QMenu& menu, const std::vector<std::string>& finished);

  // ---- the window ----
  QString StatusText() const;
  QAction* MainMenuAction(int id) const;
  CLeftView* LeftView() const { return leftView_; }
  CVorClientView* ListView() const { return listView_; }
  QSplitter* Splitter() const { return splitter_; }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMainMenu();
  void BuildTrayMenu();
  QAction* AddCommand(QMenu* menu, const char* text, int id);
  void ApplyEnableRules(QMenu* menu);
  void HideToTray();

  CVorClientApp& app_;
  CTray tray_;
  QSplitter* splitter_ = nullptr;
  CLeftView* leftView_ = nullptr;
  CVorClientView* listView_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* recentMenuAction_ = nullptr;
  QAction* localFolderAction_ = nullptr;
  std::map<int, QAction*> mainMenuActions_;
  std::map<int, std::string> recentFolders_;  // command id -> folder (local code page)
  bool shown_ = true;
};
