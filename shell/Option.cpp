#include "shell/Option.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "shell/DataMove.h"
#include "shell/DialogKit.h"
#include "shell/Icons.h"
#include "shell/LocalText.h"
#include "shell/VorClientApp.h"

namespace {

constexpr const char* kHintTitle = "提示";

QString AskForFolder(QWidget* parent) {
  return QFileDialog::getExistingDirectory(parent, QString::fromUtf8("请选择目录"));
}

COtherOptions::FolderPicker& Picker() {
  static COtherOptions::FolderPicker picker = AskForFolder;
  return picker;
}

// The move's own boxes: OK and Cancel with the question icon; the answer
// counts only where the caller looks at it.
QMessageBox::StandardButton MoveBox(QWidget* parent, const QString& text) {
  return ShowBox(parent, QMessageBox::Question, kHintTitle, text, QMessageBox::Ok | QMessageBox::Cancel);
}

QLineEdit* MakeEdit(QWidget* parent, int id, int limit) {
  auto* edit = NamedControl(new QLineEdit(parent), id);
  edit->setMaxLength(limit);
  return edit;
}

}  // namespace

// ---------------------------------------------------------------------------
// Proxy page

COptionProxy::COptionProxy(CVorClientApp& app, QWidget* parent) : QWidget(parent), app_(app) {
  use_ = NamedControl(new QCheckBox(QString::fromUtf8("使用代理服务器"), this), proxy::kUseBox);
  type_ = NamedControl(new QComboBox(this), proxy::kTypeList);
  for (const char* type : proxy::kTypesUtf8) type_->addItem(QString::fromUtf8(type));
  host_ = MakeEdit(this, proxy::kHostEdit, proxy::kAddressLimit);
  port_ = MakeEdit(this, proxy::kPortEdit, proxy::kPortLimit);
  user_ = MakeEdit(this, proxy::kUserEdit, proxy::kUserLimit);
  password_ = MakeEdit(this, proxy::kPasswordEdit, proxy::kUserLimit);
  password_->setEchoMode(QLineEdit::Password);

  auto* group = new QGroupBox(this);
  auto* form = new QFormLayout(group);
  form->addRow(QString::fromUtf8("类型"), type_);
  form->addRow(QString::fromUtf8("地址"), host_);
  form->addRow(QString::fromUtf8("端口"), port_);
  form->addRow(QString::fromUtf8("用户"), user_);
  form->addRow(QString::fromUtf8("密码"), password_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(use_);
  layout->addWidget(group);
  layout->addStretch();

  if (CWork* work = app_.Work()) Fill(LoadProxyForm(work->GetConfig()));
  else Fill(ProxyForm{});

  connect(use_, &QCheckBox::clicked, this, &COptionProxy::OnUseClicked);
  connect(type_, &QComboBox::activated, this, &COptionProxy::OnTypeChanged);
}

ProxyForm COptionProxy::Take() const {
  ProxyForm form;
  form.use = use_->isChecked();
  form.type = Local(type_->currentText());
  form.host = Local(host_->text());
  form.port = Local(port_->text());
  form.user = Local(user_->text());
  form.password = Local(password_->text());
  return form;
}

void COptionProxy::Fill(const ProxyForm& form) {
  use_->setChecked(form.use);
  const int index = type_->findText(Ui(form.type));
  type_->setCurrentIndex(index);  // an unknown type selects nothing
  host_->setText(Ui(form.host));
  port_->setText(Ui(form.port));
  user_->setText(Ui(form.user));
  password_->setText(Ui(form.password));
  const ProxyEnable enable = ProxyEnableRule(form);
  type_->setEnabled(enable.type);
  for (QLineEdit* field : {host_, port_, user_, password_}) field->setEnabled(enable.fields);
}

void COptionProxy::OnUseClicked() { Fill(Take()); }

void COptionProxy::OnTypeChanged() {
  ProxyForm form = Take();
  ProxyTypeChanged(form);
  Fill(form);
}

bool COptionProxy::Validate() {
  const ProxyProblem problem = ValidateProxy(Take());
  if (problem.field == 0) return true;
  if (auto* field = FindControl<QWidget>(this, problem.field)) field->setFocus();
  ShowBox(this, QMessageBox::Critical, "Vessa", QString::fromUtf8(problem.messageUtf8.c_str()));
  return false;
}

bool COptionProxy::Apply() {
  CWork* work = app_.Work();
  return work && ApplyProxy(work->GetConfig(), Take());
}

// ---------------------------------------------------------------------------
// Other options page

COtherOptions::COtherOptions(CVorClientApp& app, QWidget* parent) : QWidget(parent), app_(app) {
  notices_ = NamedControl(new QCheckBox(QString::fromUtf8("显示通知"), this), other::kNoticesBox);
  folder_ = NamedControl(new QLineEdit(this), other::kFolderEdit);
  folder_->setReadOnly(true);
  folder_->setMinimumWidth(260);
  move_ = NamedControl(new QPushButton(QString::fromUtf8("移动..."), this), other::kMoveButton);

  auto* group = new QGroupBox(QString::fromUtf8("移动您的数据到以下目录"), this);
  auto* row = new QHBoxLayout(group);
  row->addWidget(folder_, 1);
  row->addWidget(move_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(notices_);
  layout->addWidget(group);
  layout->addStretch();
  Fill();

  connect(notices_, &QCheckBox::clicked, this, &COtherOptions::OnNoticesClicked);
  connect(move_, &QPushButton::clicked, this, &COtherOptions::OnBnClickedButton1);
}

void COtherOptions::SetFolderPicker(FolderPicker picker) { Picker() = picker ? std::move(picker) : AskForFolder; }

void COtherOptions::Fill() {
  CWork* work = app_.Work();
  folder_->setText(work ? Ui(work->GetConfig().Get(CConfig::kRootPath)) : QString());
  notices_->setChecked(work ? work->GetConfig().GetShowNotices() != 0 : true);
}

void COtherOptions::OnNoticesClicked() {
  if (CWork* work = app_.Work()) work->GetConfig().SetShowNotices(notices_->isChecked() ? 1 : 0);
}

void COtherOptions::OnBnClickedButton1() {
  CWork* work = app_.Work();
  if (!work || !work->IsSyncEnabled()) {
    MoveBox(this, QString::fromUtf8("请在同步完成后移动数据 "));
    return;
  }
  const QString chosen = Picker()(this);
  if (chosen.isEmpty()) return;
  const std::string oldFolder = work->GetConfig().Get(CConfig::kRootPath);
  const std::string newFolder = NewDataFolder(Local(chosen));
  const MoveRefusal refusal = CheckDataMove(oldFolder, newFolder);
  if (refusal != MoveRefusal::kNone) {
    ShowBox(this, QMessageBox::Warning, kHintTitle,
            QString::fromStdString(RefusalMessage(refusal, Ui(newFolder).toStdString())));
    return;
  }
  const QString question = QString::fromUtf8("是否把vessa数据从%1移动到%2").arg(Ui(oldFolder), Ui(newFolder));
  if (MoveBox(this, question) != QMessageBox::Ok) return;
  setEnabled(false);  // no second move while this one waits
  MoveTo(oldFolder, newFolder);
  setEnabled(true);
  Fill();
}

void COtherOptions::MoveTo(const std::string& oldFolder, const std::string& newFolder) {
  if (!app_.LogoutAndWait(other::kLogoutWaitMs)) {
    ShowBox(this, QMessageBox::Warning, kHintTitle, QString::fromUtf8("注销超时，数据未移动，请稍后再试"));
    return;
  }
  // Nothing may hold a file of the folder while it moves: the log lies in
  // it, and the worker keeps the database.
  app_.StopWorkerAndLog();
  int error = 0;
  const MoveResult result = MoveDataFolder(oldFolder, newFolder, error);
  if (result == MoveResult::kFailed) {
    MoveBox(this, QString::fromUtf8("移动数据失败！数据仍在原目录"));
    app_.InitApp();  // back in the old place, with a log again
    LogF(CLogger::kError, "COtherOptions::OnBnClickedButton1", "Fail to mv \"%s\" to \"%s\" eroor code :%d ",
         oldFolder.c_str(), newFolder.c_str(), error);
    return;
  }
  folder_->setText(Ui(newFolder));
  CUtil::WriteRootPath(newFolder);
  MoveBox(this, result == MoveResult::kMoved
                    ? QString::fromUtf8("移动数据成功！")
                    : QString::fromUtf8("移动数据成功！旧目录数据正在被其他程序使用\n请手动删除."));
  app_.InitApp();
}

// ---------------------------------------------------------------------------
// The dialog

COption::COption(CVorClientApp& app, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("选项"));
  setWindowIcon(ResourceIcon(icon::kProgram));
  sheet_ = new QTabWidget(this);
  proxy_ = new COptionProxy(app, sheet_);
  other_ = new COtherOptions(app, sheet_);
  sheet_->addTab(proxy_, QString::fromUtf8("代理设置"));
  sheet_->addTab(other_, QString::fromUtf8("其他选项"));

  auto* ok = NamedControl(new QPushButton(QString::fromUtf8("确定"), this), 1);
  auto* cancel = NamedControl(new QPushButton(QString::fromUtf8("取消"), this), 2);
  ok->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(5, 5, 5, 5);
  layout->addWidget(sheet_);
  layout->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &COption::accept);
  connect(cancel, &QPushButton::clicked, this, &COption::reject);
}

void COption::accept() {
  if (ValidateProxy(proxy_->Take()).field != 0) sheet_->setCurrentWidget(proxy_);  // the field to correct shows
  if (!proxy_->Validate()) return;
  proxy_->Apply();
  QDialog::accept();
}
