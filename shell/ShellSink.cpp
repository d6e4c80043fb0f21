#include "shell/ShellSink.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <memory>

#include "shell/LocalText.h"

namespace {

constexpr const char* kPromptTitle = "Vessa";

struct PendingCall {
  bool done = false;
};

}  // namespace

CShellSink::CShellSink(QObject* context, INoticeHandler& handler) : context_(context), handler_(handler) {}

bool CShellSink::RunOnUiThread(std::function<void()> job) {
  if (QThread::currentThread() == context_->thread()) {
    if (!IsOpen()) return false;
    job();
    return true;
  }
  auto call = std::make_shared<PendingCall>();
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return false;
    generation = generation_;
  }
  QMetaObject::invokeMethod(
      context_,
      [this, call, generation, job = std::move(job)] {
        {
          // A caller released by a close has given up: its job is stale,
          // even once the sink is open again.
          std::lock_guard<std::mutex> lock(mutex_);
          if (!open_ || generation != generation_) return;
        }
        job();
        std::lock_guard<std::mutex> lock(mutex_);
        call->done = true;
        done_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return call->done || !open_; });
  return call->done;
}

void CShellSink::Send(const Notice& notice) {
  RunOnUiThread([this, notice] { handler_.HandleNotice(notice); });
}

void CShellSink::ShowLoggedInIcon(const std::string& user) {
  RunOnUiThread([this, user] { handler_.HandleLoggedIn(user); });
}

void CShellSink::ShowLoggedOutIcon() {
  RunOnUiThread([this] { handler_.HandleLoggedOut(); });
}

void CShellSink::Post(uintptr_t window, unsigned message, uintptr_t wParam) {
  if (window == 0) return;  // nobody waits for this answer
  QPointer<QObject> owner;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = windows_.find(window);
    if (found == windows_.end()) return;
    owner = found->second.owner;
  }
  if (!owner) return;
  QMetaObject::invokeMethod(
      owner.data(),
      [this, window, message, wParam] {
        IAnswerWindow* target = nullptr;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          const auto found = windows_.find(window);
          if (found != windows_.end()) target = found->second.window;
        }
        if (target) target->OnWorkerAnswer(message, wParam);
      },
      Qt::QueuedConnection);
}

bool CShellSink::AskOkCancel(const std::string& text) {
  // Shared: a closed sink stops waiting while the box may still be open.
  auto ok = std::make_shared<bool>(false);
  const bool answered = RunOnUiThread([ok, text] {
    *ok = QMessageBox::question(nullptr, kPromptTitle, Ui(text), QMessageBox::Ok | QMessageBox::Cancel,
                                QMessageBox::Ok) == QMessageBox::Ok;
  });
  return answered && *ok;
}

void CShellSink::ShowError(const std::string& text) {
  RunOnUiThread([text] { QMessageBox::warning(nullptr, kPromptTitle, Ui(text)); });
}

uintptr_t CShellSink::RegisterWindow(QObject* owner, IAnswerWindow* window) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uintptr_t handle = nextHandle_++;
  windows_[handle] = {owner, window};
  return handle;
}

void CShellSink::UnregisterWindow(uintptr_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  windows_.erase(handle);
}

void CShellSink::SetOpen(bool open) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_ && !open) ++generation_;
  open_ = open;
  done_.notify_all();
}

bool CShellSink::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}
