#pragma once
// The login dialog: user name, password, this computer's host name, the
// "记住密码" and "开机启动" boxes. OK hands the login to the worker and waits,
// controls disabled, for its answer; it closes on success and lets the user
// correct the entries on failure. Cancel also ends a login that keeps
// retrying.
#include <QDialog>
#include <cstdint>

#include "shell/LoginFlow.h"
#include "shell/ShellSink.h"

class CVorClientApp;
class QCheckBox;
class QLineEdit;
class QPushButton;

namespace login {
constexpr int kUserEdit = 1000;
constexpr int kHostEdit = 1001;
constexpr int kPasswordEdit = 1002;
constexpr int kProxyButton = 1010;
constexpr int kAutostartBox = 1011;
constexpr int kRegisterButton = 1013;
constexpr int kRememberBox = 1014;
constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;
constexpr int kFieldLimit = 64;
}  // namespace login

class CLoginDlg : public QDialog, public IAnswerWindow {
  Q_OBJECT
 public:
  explicit CLoginDlg(CVorClientApp& app, QWidget* parent = nullptr);
  ~CLoginDlg() override;

  // The handle the worker answers to.
  uintptr_t Handle() const { return handle_; }
  // WM_WORK_LOGIN_DONE: 1 closes the dialog as accepted, 0 enables the entries again.
  void OnWorkerAnswer(unsigned message, uintptr_t wParam) override;

  void reject() override;

 private:
  void OnOk();
  LoginEntries TakeEntries() const;
  void SetWaiting(bool waiting);

  CVorClientApp& app_;
  uintptr_t handle_ = 0;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* host_ = nullptr;
  QCheckBox* remember_ = nullptr;
  QCheckBox* autostart_ = nullptr;
  QPushButton* register_ = nullptr;
  QPushButton* proxy_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};
