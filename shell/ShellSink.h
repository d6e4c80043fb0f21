#pragma once
// The worker's way into the user interface. Notices and questions run on the
// UI thread and the calling thread waits until they were handled (a direct
// call when it is the UI thread itself); answers to a login or logout
// request are queued to the window whose handle went with the request and
// never wait.
//
// While the sink is closed (around the destruction of a worker, which waits
// for the worker's threads) nothing is delivered: a waiting call returns at
// once, a question counts as Cancel. That keeps a worker blocked in a notice
// from deadlocking the UI thread that is waiting for it to end.
#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/NoticeSink.h"
#include "platform/UserPrompt.h"

// The UI side of the notices: the main frame.
class INoticeHandler {
 public:
  virtual ~INoticeHandler() = default;
  virtual void HandleNotice(const Notice& notice) = 0;
  virtual void HandleLoggedIn(const std::string& user) = 0;
  virtual void HandleLoggedOut() = 0;
};

// A window that can be named as the one to answer.
class IAnswerWindow {
 public:
  virtual ~IAnswerWindow() = default;
  virtual void OnWorkerAnswer(unsigned message, uintptr_t wParam) = 0;
};

class CShellSink : public INoticeSink, public IUserPrompt {
 public:
  // `context` lives on the UI thread and outlives the sink's deliveries.
  CShellSink(QObject* context, INoticeHandler& handler);

  void Send(const Notice& notice) override;
  void ShowLoggedInIcon(const std::string& user) override;
  void ShowLoggedOutIcon() override;
  void Post(uintptr_t window, unsigned message, uintptr_t wParam) override;

  // Message boxes titled "Vessa" (texts in the local code page).
  bool AskOkCancel(const std::string& text) override;
  void ShowError(const std::string& text) override;

  // A handle for `window` (never 0); answers to it are delivered on the
  // thread of `owner` while it is registered and `owner` exists.
  uintptr_t RegisterWindow(QObject* owner, IAnswerWindow* window);
  void UnregisterWindow(uintptr_t handle);

  void SetOpen(bool open);
  bool IsOpen() const;

 private:
  // Runs `job` on the UI thread and waits for it; false when the sink was or
  // became closed before the job ran to its end.
  bool RunOnUiThread(std::function<void()> job);

  QObject* context_;
  INoticeHandler& handler_;

  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool open_ = true;
  std::uint64_t generation_ = 0;  // counts the closes
  struct Registered {
    QPointer<QObject> owner;
    IAnswerWindow* window = nullptr;
  };
  std::map<uintptr_t, Registered> windows_;
  uintptr_t nextHandle_ = 1;
};
