#pragma once
// The application object: owns the worker and the log, runs the start-up
// (hidden main frame with its tray icon, single instance, quiet update
// check, log, worker, automatic login or the login dialog), handles the
// application's commands, and shuts down in order: worker, then log.
#include <QObject>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/SingleInstance.h"
#include "shell/Commands.h"

class CLogger;
class CMainFrame;
class CShellSink;
class CWork;

class CVorClientApp : public QObject {
  Q_OBJECT
 public:
  CVorClientApp();
  ~CVorClientApp() override;
  CVorClientApp(const CVorClientApp&) = delete;
  CVorClientApp& operator=(const CVorClientApp&) = delete;

  // The whole start-up. False when the program must end now (another copy
  // runs, the user went for a newer client, the worker did not start).
  bool Start();

  // ---- the steps of the start-up ----
  // The hidden main window with its tray icon (logged-out icon).
  void CreateFrame();
  // False, after saying so, when another copy of the program runs.
  bool HoldSingleInstance();
  // 1 when the log is open ("Log File could not be opened!" otherwise;
  // the program goes on without a log).
  int OpenLog();
  // Log, worker, then the automatic login or the login dialog. 0 when the
  // worker did not start ("Fail to start Worker!").
  int InitApp();
  int StartWorker();
  void LogInOrAsk();

  // ---- commands ----
  WorkState State() const;
  bool IsEnabled(int id) const;
  // Runs an enabled command; disabled and unknown ids do nothing.
  void OnCommand(int id);
  void ShowLoginDialog();
  void ShowOptions();
  void ShowAbout();
  // True when a newer client exists and the user chose it.
  bool CheckForUpdate(bool quiet);
  void Logout();
  void Synchronise();
  void OpenLocalFolder();
  void OpenFolder(const std::string& folder);
  void OpenWebPage(const char* path);
  // Ends the event loops; the program then shuts down.
  void Exit();
  bool ExitRequested() const { return exitRequested_; }

  // ---- the data-folder move ----
  // Asks the worker to log out and waits for its answer, handling events
  // meanwhile. False when no answer came within `timeoutMs`.
  bool LogoutAndWait(int timeoutMs);
  // Deletes the worker and closes the log (InitApp starts both again).
  void StopWorkerAndLog();
  // The frame got WM_WORK_LOGOUT_DONE.
  void LogoutDone();

  CWork* Work() const { return work_.get(); }
  CLogger* Logger() const { return logger_.get(); }
  CMainFrame* Frame() const { return frame_.get(); }
  CShellSink* Sink() const { return sink_.get(); }
  uintptr_t FrameHandle() const { return frameHandle_; }
  // The configured authentication server, which also names the web site.
  std::string AuthServer() const;

 signals:
  void logoutAnswered();

 private:
  void DropWorker();

  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<CShellSink> sink_;
  uintptr_t frameHandle_ = 0;
  platform::CSingleInstance instance_;
  std::unique_ptr<CLogger> logger_;
  std::unique_ptr<CWork> work_;
  bool exitRequested_ = false;
  bool loginShown_ = false;
  bool optionsShown_ = false;
};
