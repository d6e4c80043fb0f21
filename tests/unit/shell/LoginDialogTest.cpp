#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "foundation/Timing.h"
#include "platform/Autostart.h"
#include "platform/ComputerName.h"
#include "shell/DialogKit.h"
#include "shell/LoginDlg.h"
#include "shell/MainFrame.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace {

const char* const kChangeQuestion = "更换用户？ 原用户数据将不再被自动同步到服务器...";

}  // namespace

// The worker talks to a scripted back server that fails every call, with no
// authentication server in front, so the first call of a login shows whether
// the login was a first synchronisation (it registers the computer first:
// obtain_host_id) or not (login).
class LoginDialogTest : public ShellFixture {
 protected:
  void SetUp() override {
    ShellFixture::SetUp();
    platform::DisableAutostart();
    Seed({{CConfig::kAuthServer, "none"},
          {CConfig::kBackServer, back_.Url("/axis2/services/vor_service_bs")},
          {CConfig::kHostId, "H1"}});
  }
  void Start() {
    app_.CreateFrame();
    ASSERT_TRUE(app_.StartWorker());
    dialog_ = std::make_unique<CLoginDlg>(app_);
    dialog_->show();
  }
  template <typename T>
  T* Control(int id) {
    return FindControl<T>(dialog_.get(), id);
  }
  void Enter(const QString& user, const QString& password, const QString& host = "desk") {
    Control<QLineEdit>(1000)->setText(user);
    Control<QLineEdit>(1002)->setText(password);
    Control<QLineEdit>(1001)->setText(host);
  }
  void ClickOk() { Control<QPushButton>(1)->click(); }
  std::map<int, bool> Enabled() {
    std::map<int, bool> enabled;
    for (int id : {1, 1000, 1001, 1002, 1010, 1011, 1013, 1014}) enabled[id] = Control<QWidget>(id)->isEnabled();
    return enabled;
  }
  // The operation of the worker's first call to the back server.
  std::string FirstBackCall() {
    if (!WaitUntil([&] { return back_.RequestCount() >= 1; })) return "none";
    const std::string body = back_.Requests()[0].body;
    if (body.find("obtain_host_id") != std::string::npos) return "obtain_host_id";
    if (body.find("login") != std::string::npos) return "login";
    return body;
  }

  ScriptedServer back_;
  CVorClientApp app_;
  std::unique_ptr<CLoginDlg> dialog_;
};

TEST_F(LoginDialogTest, OpensWithTheStoredLoginAndBoxes) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kLoginPasswd, "pw1"}, {CConfig::kHostName, "desk"}});
  ASSERT_TRUE(platform::EnableAutostart("/usr/bin/vessa"));
  Start();
  EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("Vessa - 用户登录"));
  EXPECT_EQ(Control<QLineEdit>(1000)->text(), "alice");
  EXPECT_EQ(Control<QLineEdit>(1002)->text(), "pw1");
  EXPECT_EQ(Control<QLineEdit>(1002)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Control<QLineEdit>(1001)->text(), "desk");
  EXPECT_TRUE(Control<QLineEdit>(1001)->isReadOnly());
  EXPECT_TRUE(Control<QCheckBox>(1014)->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(1011)->isChecked());
  for (int id : {1000, 1001, 1002}) EXPECT_EQ(Control<QLineEdit>(id)->maxLength(), 64);
}

TEST_F(LoginDialogTest, WithoutStoredValuesTheHostIsThisComputer) {
  Start();
  EXPECT_EQ(Control<QLineEdit>(1000)->text(), "");
  EXPECT_EQ(Control<QLineEdit>(1001)->text().toStdString(), platform::ComputerName());
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kHostName), platform::ComputerName());
  EXPECT_FALSE(Control<QCheckBox>(1014)->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(1011)->isChecked());
}

TEST_F(LoginDialogTest, IncompleteEntriesAreRefused) {
  Start();
  struct Case {
    const char* user;
    const char* password;
    const char* host;
  };
  for (const Case& c : {Case{"", "pw", "desk"}, Case{"alice", "", "desk"}, Case{"alice", "pw", ""}}) {
    ModalAnswerer answerer;
    Enter(c.user, c.password, c.host);
    ClickOk();
    ASSERT_EQ(answerer.Boxes().size(), 1u) << c.user << "/" << c.password << "/" << c.host;
    EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("请输入完整数据"));
    EXPECT_EQ(answerer.Boxes()[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(Control<QPushButton>(1)->isEnabled()) << "the dialog stays for corrections";
  }
  EXPECT_FALSE(Control<QLineEdit>(1001)->isReadOnly()) << "an empty host name may be typed in";
  Pump(200);
  EXPECT_EQ(back_.RequestCount(), 0u) << "no login was asked for";
  EXPECT_TRUE(dialog_->isVisible());
}

TEST_F(LoginDialogTest, RefusedUserChangeLeavesEverythingAsItWas) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kLoginPasswd, "pw1"}, {CConfig::kHostName, "desk"}});
  Start();
  ModalAnswerer answerer({QMessageBox::Cancel});
  Enter("bob", "pw2");
  ClickOk();
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8(kChangeQuestion));
  EXPECT_EQ(answerer.Boxes()[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kLoginUser), "alice");
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kLoginPasswd), "pw1");
  EXPECT_EQ(app_.Work()->GetUser(), "alice");
  EXPECT_TRUE(Control<QPushButton>(1)->isEnabled());
  Pump(200);
  EXPECT_EQ(back_.RequestCount(), 0u);
}

TEST_F(LoginDialogTest, AcceptedUserChangeMakesAFirstSynchronisation) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kLoginPasswd, "pw1"}, {CConfig::kHostName, "desk"}});
  Start();
  ModalAnswerer answerer({QMessageBox::Ok});
  Enter("bob", "pw2");
  Control<QCheckBox>(1014)->setChecked(true);
  ClickOk();
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kLoginUser), "bob");
  EXPECT_EQ(app_.Work()->GetUser(), "bob");
  EXPECT_EQ(app_.Work()->GetPassword(), "pw2");
  EXPECT_EQ(FirstBackCall(), "obtain_host_id") << "a new user registers the computer first";
}

TEST_F(LoginDialogTest, FirstUserEverIsNotAskedButStillStartsAFullSynchronisation) {
  Start();
  ModalAnswerer answerer;
  Enter("alice", "pw1");
  ClickOk();
  EXPECT_TRUE(answerer.Boxes().empty());
  EXPECT_EQ(FirstBackCall(), "obtain_host_id");
}

TEST_F(LoginDialogTest, SameUserLogsInWithoutQuestionOrFirstSynchronisation) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kLoginPasswd, "pw1"}, {CConfig::kHostName, "desk"}});
  Start();
  ModalAnswerer answerer;
  Enter("alice", "new password");
  ClickOk();
  EXPECT_TRUE(answerer.Boxes().empty());
  EXPECT_EQ(FirstBackCall(), "login");
  EXPECT_EQ(app_.Work()->GetPassword(), "new password");
}

TEST_F(LoginDialogTest, WaitingDisablesExactlyTheEntriesAndAFailureEnablesThemAgain) {
  Start();
  Enter("alice", "pw1");
  const auto before = Enabled();
  ClickOk();
  const auto waiting = Enabled();
  for (int id : {1, 1000, 1002, 1010, 1011, 1014}) EXPECT_FALSE(waiting.at(id)) << id;
  EXPECT_TRUE(waiting.at(1001)) << "the host edit is never disabled";
  EXPECT_TRUE(waiting.at(1013)) << "nor the register button";
  // The scripted back server fails the login; the worker answers 0.
  ASSERT_TRUE(WaitUntil([&] { return Control<QPushButton>(1)->isEnabled(); }, 15000));
  EXPECT_EQ(Enabled(), before);
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(app_.Frame()->Tray().State().ToolTip(), "登录失败") << "the worker said why";

  app_.Sink()->Post(dialog_->Handle(), WM_WORK_LOGIN_DONE, 1);
  ASSERT_TRUE(WaitUntil([&] { return !dialog_->isVisible(); }));
  EXPECT_EQ(dialog_->result(), QDialog::Accepted);
}

TEST_F(LoginDialogTest, UntickedRememberForgetsThePasswordButTheWorkerKeepsIt) {
  Start();
  Enter("alice", "secret");
  Control<QCheckBox>(1014)->setChecked(false);
  ClickOk();
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kLoginPasswd), "");
  EXPECT_EQ(app_.Work()->GetPassword(), "secret");
  EXPECT_EQ(app_.Work()->GetConfig().Get(CConfig::kHostName), platform::ComputerName())
      << "a host name once set stays, whatever the edit holds";
}

TEST_F(LoginDialogTest, StartAtLogOnFollowsTheBox) {
  Start();
  Enter("alice", "pw1");
  Control<QCheckBox>(1011)->setChecked(true);
  ClickOk();
  ASSERT_TRUE(platform::AutostartEnabled());
  EXPECT_NE(ReadFile(platform::AutostartFile())
                .find("Exec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n"),
            std::string::npos);
  ASSERT_TRUE(WaitUntil([&] { return Control<QPushButton>(1)->isEnabled(); }, 15000));
  Control<QCheckBox>(1011)->setChecked(false);
  ClickOk();
  EXPECT_FALSE(platform::AutostartEnabled());
}

TEST_F(LoginDialogTest, CancelEndsALoginThatKeepsRetrying) {
  ScriptedReply drop;
  drop.action = ScriptedReply::Action::kDrop;
  auth_.SetFallback(drop);
  Seed({{CConfig::kAuthServer, auth_.Url("/vorportal/LoginServlet")}});
  const int retry = ProcessTiming().authRetryMs.exchange(120000);  // only the cancel can end the wait
  Start();
  Enter("alice", "pw1");
  ClickOk();
  const std::string retrying = "认证服务器没有响应,重新连接...";
  ASSERT_TRUE(WaitUntil([&] { return app_.Frame()->Tray().State().ToolTip() == retrying; }, 15000));
  Control<QPushButton>(2)->click();
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_TRUE(WaitUntil([&] { return app_.Frame()->Tray().State().ToolTip() == "退出登录 "; }, 5000));
  ProcessTiming().authRetryMs = retry;
}

TEST_F(LoginDialogTest, RegisterOpensThePageAndProxyOpensTheOptions) {
  Seed({{CConfig::kAuthServer, "http://127.0.0.1:8089/vorportal/LoginServlet"}});
  Start();
  Control<QPushButton>(1013)->click();
  const auto calls = opener_.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "[http://127.0.0.1:8089/mservices/reg/SSLRegister.action]");

  ModalAnswerer answerer;
  Control<QPushButton>(1010)->click();
  EXPECT_EQ(answerer.Dialogs(), std::vector<QString>{"COption"});
  EXPECT_TRUE(dialog_->isVisible());
}
