#include "shell/LoginDlg.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "engine/Work.h"
#include "shell/Commands.h"
#include "shell/DialogKit.h"
#include "shell/Icons.h"
#include "shell/LocalText.h"
#include "shell/VorClientApp.h"
#include "shell/WebHost.h"

namespace {

constexpr const char* kTitle = "Vessa";

QLineEdit* MakeEdit(QWidget* parent, int id) {
  auto* edit = NamedControl(new QLineEdit(parent), id);
  edit->setMaxLength(login::kFieldLimit);
  edit->setMinimumWidth(220);
  return edit;
}

}  // namespace

CLoginDlg::CLoginDlg(CVorClientApp& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(QString::fromUtf8("Vessa - 用户登录"));
  setWindowIcon(ResourceIcon(icon::kProgram));

  user_ = MakeEdit(this, login::kUserEdit);
  password_ = MakeEdit(this, login::kPasswordEdit);
  password_->setEchoMode(QLineEdit::Password);
  host_ = MakeEdit(this, login::kHostEdit);
  host_->setReadOnly(true);
  remember_ = NamedControl(new QCheckBox(QString::fromUtf8("记住密码"), this), login::kRememberBox);
  autostart_ = NamedControl(new QCheckBox(QString::fromUtf8("开机启动"), this), login::kAutostartBox);
  register_ = NamedControl(new QPushButton(QString::fromUtf8("注册新用户"), this), login::kRegisterButton);
  proxy_ = NamedControl(new QPushButton(QString::fromUtf8("代理设置"), this), login::kProxyButton);
  ok_ = NamedControl(new QPushButton(QString::fromUtf8("确定"), this), login::kOkButton);
  cancel_ = NamedControl(new QPushButton(QString::fromUtf8("取消"), this), login::kCancelButton);
  ok_->setDefault(true);
  ok_->setAutoDefault(true);

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(QString::fromUtf8("账    号"), this), 0, 0);
  fields->addWidget(user_, 0, 1);
  fields->addWidget(new QLabel(QString::fromUtf8("密    码"), this), 1, 0);
  fields->addWidget(password_, 1, 1);
  fields->addWidget(new QLabel(QString::fromUtf8("主机名称"), this), 2, 0);
  fields->addWidget(host_, 2, 1);
  auto* boxes = new QHBoxLayout;
  boxes->addWidget(remember_);
  boxes->addWidget(autostart_);
  boxes->addStretch();
  fields->addLayout(boxes, 3, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(register_);
  buttons->addWidget(proxy_);
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  if (CWork* work = app_.Work()) {
    const LoginEntries entries = LoadLoginEntries(work->GetConfig());
    user_->setText(Ui(entries.user));
    password_->setText(Ui(entries.password));
    host_->setText(Ui(entries.hostName));
    remember_->setChecked(entries.remember);
    autostart_->setChecked(entries.autostart);
  }
  handle_ = app_.Sink()->RegisterWindow(this, this);

  connect(ok_, &QPushButton::clicked, this, &CLoginDlg::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &CLoginDlg::reject);
  connect(proxy_, &QPushButton::clicked, this, [this] { app_.OnCommand(cmd::kOptionsButton); });
  connect(register_, &QPushButton::clicked, this, [this] { app_.OpenWebPage(web::kRegisterPage); });
}

CLoginDlg::~CLoginDlg() { app_.Sink()->UnregisterWindow(handle_); }

LoginEntries CLoginDlg::TakeEntries() const {
  LoginEntries entries;
  entries.user = Local(user_->text());
  entries.password = Local(password_->text());
  entries.hostName = Local(host_->text());
  entries.remember = remember_->isChecked();
  entries.autostart = autostart_->isChecked();
  return entries;
}

void CLoginDlg::OnOk() {
  CWork* work = app_.Work();
  if (!work) return;
  const LoginEntries entries = TakeEntries();
  if (!IsComplete(entries)) {
    ShowBox(this, QMessageBox::Warning, kTitle, QString::fromUtf8("请输入完整数据"));
    if (entries.hostName.empty()) host_->setReadOnly(false);
    return;
  }
  const StoredLogin stored = ReadStoredLogin(work->GetConfig());
  if (AsksUserChange(entries, stored) &&
      ShowBox(this, QMessageBox::Question, kTitle,
              QString::fromUtf8("更换用户？ 原用户数据将不再被自动同步到服务器..."),
              QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok) {
    return;
  }
  CommitLogin(*work, entries, stored, QCoreApplication::applicationFilePath().toStdString());
  work->Request(WM_WORK_LOGIN, handle_);
  SetWaiting(true);
}

void CLoginDlg::SetWaiting(bool waiting) {
  for (QWidget* control : std::initializer_list<QWidget*>{ok_, user_, password_, remember_, autostart_, proxy_}) {
    control->setEnabled(!waiting);
  }
}

void CLoginDlg::OnWorkerAnswer(unsigned message, uintptr_t wParam) {
  if (message != WM_WORK_LOGIN_DONE) return;
  if (wParam) {
    accept();
  } else {
    SetWaiting(false);  // the worker has said why
  }
}

void CLoginDlg::reject() {
  if (CWork* work = app_.Work()) work->SetLoginCancel(1);
  QDialog::reject();
}
