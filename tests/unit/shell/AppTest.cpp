#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTimer>
#include <QCoreApplication>
#include <filesystem>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "foundation/Logger.h"
#include "platform/SingleInstance.h"
#include "shell/FileViews.h"
#include "shell/MainFrame.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace fs = std::filesystem;

namespace {

// The text of the one log file of the start, "" when there is none.
std::string LogText(const std::string& root) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root + "/.log", ec)) {
    if (entry.path().extension() == ".log") return ReadFile(entry.path());
  }
  return "";
}

ScriptedReply Version(const std::string& setup) {
  ScriptedReply reply;
  reply.contentType = "text/plain";
  reply.body = setup;
  return reply;
}

}  // namespace

using AppTest = ShellFixture;

TEST_F(AppTest, SecondStartIsRefusedBeforeAnyLogOrWorker) {
  platform::CSingleInstance running;
  ASSERT_EQ(running.Acquire(), platform::CSingleInstance::Result::kAcquired);
  ModalAnswerer answerer;
  CVorClientApp app;
  EXPECT_FALSE(app.Start());
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("程序已在运行中，无法再启用另一个拷贝"));
  EXPECT_EQ(answerer.Boxes()[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(app.Work(), nullptr);
  EXPECT_EQ(app.Logger(), nullptr);
  EXPECT_FALSE(fs::exists(root_ / ".log"));
  EXPECT_EQ(auth_.RequestCount(), 0u) << "not even the update check ran";
  EXPECT_FALSE(app.ExitRequested());
}

TEST_F(AppTest, StoredLoginLogsInAtOnceWithoutADialog) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kLoginPasswd, "pw1"}, {CConfig::kHostName, "desk"}});
  ModalAnswerer answerer;
  {
    CVorClientApp app;
    ASSERT_TRUE(app.Start());
    EXPECT_TRUE(answerer.Dialogs().empty());
    EXPECT_TRUE(answerer.Boxes().empty()) << "a failed quiet update check says nothing";
    ASSERT_NE(app.Work(), nullptr);
    // Waits with the events flowing: the worker's notices need the UI thread.
    ASSERT_TRUE(WaitUntil([&] { return auth_.RequestCount() >= 2; }));
    const auto requests = auth_.Requests();
    EXPECT_EQ(requests[0].url, "/vorportal/clientVersion") << "the update check comes first";
    EXPECT_EQ(requests[1].url, "/vorportal/LoginServlet");
    // The refused login comes back to nobody's window; the worker says why.
    EXPECT_TRUE(WaitUntil([&] { return app.Frame()->Tray().State().ToolTip() == " 认证失败 "; }));
    EXPECT_NE(LogText(Root()).find("[CVorClientApp::InitApp]: running..."), std::string::npos);
    EXPECT_EQ(AppLogger(), app.Logger());
  }
  EXPECT_EQ(AppLogger(), nullptr) << "the log closes with the program";
}

TEST_F(AppTest, WithoutAPasswordTheLoginDialogIsShown) {
  Seed({{CConfig::kLoginUser, "alice"}, {CConfig::kHostId, "H9"}});
  ModalAnswerer answerer;  // cancels the dialog
  CVorClientApp app;
  ASSERT_TRUE(app.Start()) << "a cancelled dialog leaves the program in the tray";
  EXPECT_EQ(answerer.Dialogs(), std::vector<QString>{"CLoginDlg"});
  EXPECT_EQ(app.Work()->GetConfig().Get(CConfig::kHostId), "") << "no host name: the host id is forgotten";
  EXPECT_FALSE(app.Work()->IsLoggedIn());
}

TEST_F(AppTest, NewerClientAtStartEndsTheProgramWhenChosen) {
  auth_.Push(Version("VessaSetup101210.exe"));
  ModalAnswerer answerer({QMessageBox::Ok, QMessageBox::Cancel});
  CVorClientApp app;
  EXPECT_FALSE(app.Start());
  EXPECT_EQ(answerer.Boxes().size(), 2u);
  EXPECT_TRUE(app.ExitRequested());
  EXPECT_EQ(app.Work(), nullptr);
  EXPECT_FALSE(fs::exists(root_ / ".log"));
}

TEST_F(AppTest, LogoutShowsItsProgressInTheStatusBar) {
  CVorClientApp app;
  app.CreateFrame();
  ASSERT_TRUE(app.StartWorker());
  app.Logout();
  EXPECT_EQ(app.Frame()->StatusText(), QString::fromUtf8("注销中..."));
  ASSERT_TRUE(WaitUntil([&] { return app.Frame()->StatusText() == QString::fromUtf8("注销成功"); }));
  EXPECT_EQ(app.Frame()->Tray().State().Icon(), 157);
  EXPECT_EQ(app.Frame()->Tray().State().ToolTip(), "Vessa - Ordane Storage Service");
  EXPECT_TRUE(app.LogoutAndWait(10000)) << "the answer to a second logout is awaited";
}

TEST_F(AppTest, CommandsRunOnlyWhenEnabledAndOpenTheSite) {
  Seed({{CConfig::kAuthServer, "http://files.example:8080/vorportal/LoginServlet"}});
  CVorClientApp app;
  app.CreateFrame();
  ASSERT_TRUE(app.StartWorker());
  app.OnCommand(32813);  // the web folder: logged out, disabled
  app.OnCommand(32799);  // logout: disabled
  EXPECT_EQ(app.Frame()->StatusText(), "");
  app.OnCommand(32818);  // help: always
  const auto calls = opener_.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "[http://files.example:8080/support/manual.jsp]");
  app.OnCommand(32801);
  EXPECT_TRUE(app.ExitRequested());
  // Outside a running loop the exit stays pending and would end every later
  // modal loop at once: let a short main loop take it.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

TEST_F(AppTest, FrameHoldsTheEmptyViewsAndTheMainMenu) {
  CVorClientApp app;
  app.CreateFrame();
  ASSERT_TRUE(app.StartWorker());
  CMainFrame& frame = *app.Frame();
  ASSERT_EQ(frame.Splitter()->count(), 2);
  EXPECT_EQ(frame.Splitter()->widget(0), frame.LeftView());
  EXPECT_EQ(frame.Splitter()->widget(1), frame.ListView());
  EXPECT_EQ(frame.LeftView()->Images().size(), 6);
  EXPECT_EQ(frame.LeftView()->OverlayImage(1), 4);
  EXPECT_EQ(frame.LeftView()->OverlayImage(2), 5);
  for (const QIcon& image : frame.LeftView()->Images()) EXPECT_FALSE(image.isNull());
  EXPECT_EQ(frame.LeftView()->topLevelItemCount(), 0);
  EXPECT_EQ(frame.ListView()->count(), 0);

  for (int id : {32779, 32780, 32782, 32786, 32781, 32783, 32784, 57664}) {
    ASSERT_NE(frame.MainMenuAction(id), nullptr) << id;
  }
  // The rules are applied whenever a menu opens.
  for (QAction* menu : frame.menuBar()->actions()) emit menu->menu()->aboutToShow();
  EXPECT_TRUE(frame.MainMenuAction(32779)->isEnabled()) << "login while logged out";
  EXPECT_FALSE(frame.MainMenuAction(32780)->isEnabled());
  EXPECT_FALSE(frame.MainMenuAction(32782)->isEnabled());
  for (int id : {32786, 32781, 32783, 32784}) EXPECT_FALSE(frame.MainMenuAction(id)->isEnabled()) << id;
  EXPECT_TRUE(frame.MainMenuAction(57664)->isEnabled());
  EXPECT_EQ(frame.MainMenuAction(32779)->text(), QString::fromUtf8("登录(&L)\tCTRL+L"));
}
