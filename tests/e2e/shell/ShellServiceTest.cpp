#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "platform/Autostart.h"
#include "service/Admin.h"
#include "service/Service.h"
#include "shell/DialogKit.h"
#include "shell/LoginDlg.h"
#include "shell/MainFrame.h"
#include "shell/Option.h"
#include "shell/VorClientApp.h"
#include "tests/e2e/engine/ServerUser.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRunMs = 60000;

}  // namespace

class ShellServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    Timing& timing = ProcessTiming();
    timing.passPauseMs = 20;
    timing.systemMessageFirstMs = 3600000;
    timing.heartbeatIntervalMs = 3600000;
    platform::DisableAutostart();
    std::string error;
    ASSERT_TRUE(InitDataFolder(dir_ / "service", error)) << error;
    std::ostringstream out, err;
    ASSERT_EQ(RunAdmin({"--data", dir_ / "service", "adduser", "alice", "pw1"}, out, err), kExitOk) << err.str();
    ServiceOptions options;
    options.dataFolder = dir_ / "service";
    options.port = 0;
    service_ = std::make_unique<CService>(options);
    ASSERT_TRUE(service_->Start(error)) << error;
  }
  void TearDown() override {
    COtherOptions::SetFolderPicker(nullptr);
    service_.reset();
  }

  std::string AuthUrl() const {
    return "http://127.0.0.1:" + std::to_string(service_->Port()) + "/vorportal/LoginServlet";
  }
  // Makes `root` the data folder, with alice's login remembered.
  void UseRoot(const std::string& root, bool storedLogin) {
    ASSERT_TRUE(CUtil::WriteRootPath(root));
    fs::create_directories(root + "/.db");
    CConfig config;
    ASSERT_TRUE(config.Init(root + "/.db/client.db"));
    ASSERT_TRUE(config.Load());
    config.Set(CConfig::kAuthServer, AuthUrl());
    if (storedLogin) {
      config.Set(CConfig::kLoginUser, "alice");
      config.Set(CConfig::kLoginPasswd, "pw1");
      config.Set(CConfig::kHostName, "desk");
    }
    ASSERT_TRUE(config.Store());
  }
  // Waits for a logged-in, idle worker after a finished run.
  static bool IdleAfterRun(CVorClientApp& app) {
    return WaitUntil(
        [&] {
          CWork* work = app.Work();
          return work && work->IsLoggedIn() && work->IsSyncEnabled() &&
                 app.Frame()->Tray().State().Icon() == 156;
        },
        kRunMs);
  }

  TempDir dir_;
  std::unique_ptr<CService> service_;
  FakeOpener opener_;
};

TEST_F(ShellServiceTest, LoginDialogLogsInAndTheTrayFollowsTheRun) {
  const std::string root = dir_ / "A";
  UseRoot(root, false);
  ModalAnswerer answerer;
  answerer.onDialog = [](QDialog* dialog) {
    FindControl<QLineEdit>(dialog, 1000)->setText("alice");
    FindControl<QLineEdit>(dialog, 1002)->setText("pw1");
    FindControl<QPushButton>(dialog, 1)->click();  // the dialog closes when the worker says so
  };
  CVorClientApp app;
  ASSERT_TRUE(app.Start());
  EXPECT_EQ(answerer.Dialogs(), std::vector<QString>{"CLoginDlg"});
  EXPECT_TRUE(answerer.Boxes().empty()) << "the service's setup is this one: the quiet check says nothing";
  ASSERT_TRUE(app.Work()->IsLoggedIn()) << "the dialog closed on the worker's success";
  ASSERT_TRUE(IdleAfterRun(app));
  EXPECT_EQ(app.Frame()->Tray().State().ToolTip(), "alice") << "the run ends with the user's name";
  EXPECT_TRUE(fs::is_directory(root + "/alice"));
  EXPECT_TRUE(app.IsEnabled(32798) && app.IsEnabled(32799) && app.IsEnabled(32804));
  EXPECT_FALSE(app.IsEnabled(32800));

  app.OnCommand(32804);
  app.OnCommand(32813);
  auto calls = opener_.WaitForCalls(2);
  std::sort(calls.begin(), calls.end());  // two openers run side by side
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "[" + root + "/alice]");
  EXPECT_EQ(calls[1], "[http://127.0.0.1:" + std::to_string(service_->Port()) + "/files.jsp]");

  app.OnCommand(32799);
  ASSERT_TRUE(WaitUntil([&] { return app.Frame()->StatusText() == QString::fromUtf8("注销成功"); }));
  EXPECT_EQ(app.Frame()->Tray().State().Icon(), 157);
  EXPECT_FALSE(app.IsEnabled(32798));
}

TEST_F(ShellServiceTest, DataFolderMovesOnlyToAFreePlaceAndTheClientComesBackThere) {
  const std::string oldRoot = dir_ / "A";
  UseRoot(oldRoot, true);
  fs::create_directories(oldRoot + "/alice/docs");
  WriteFile(oldRoot + "/alice/docs/a.txt", "alpha");
  fs::create_directories(dir_ / "full/VessaData/keep");
  WriteFile(dir_ / "full/VessaData/keep/mine.txt", "someone else's");

  CVorClientApp app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(IdleAfterRun(app));
  COption options(app);
  options.show();
  auto* move = FindControl<QPushButton>(&options, 1017);

  {
    COtherOptions::SetFolderPicker([&](QWidget*) { return QString::fromStdString(dir_ / "full"); });
    ModalAnswerer answerer;
    move->click();
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_TRUE(answerer.Boxes()[0].text.startsWith(QString::fromUtf8("目标目录已存在且不为空")));
    EXPECT_EQ(answerer.Boxes()[0].title, QString::fromUtf8("提示"));
    EXPECT_EQ(ReadFile(dir_ / "full/VessaData/keep/mine.txt"), "someone else's");
    EXPECT_TRUE(app.Work()->IsLoggedIn()) << "refused before the logout";
  }

  const std::string newRoot = dir_ / "target/VessaData";
  COtherOptions::SetFolderPicker([&](QWidget*) { return QString::fromStdString(dir_ / "target/"); });
  ModalAnswerer answerer;  // OK to the question and to the report
  move->click();
  ASSERT_EQ(answerer.Boxes().size(), 2u);
  EXPECT_EQ(answerer.Boxes()[0].text,
            QString::fromUtf8("是否把vessa数据从%1移动到%2").arg(QString::fromStdString(oldRoot),
                                                                 QString::fromStdString(newRoot)));
  EXPECT_EQ(answerer.Boxes()[1].text, QString::fromUtf8("移动数据成功！"));
  EXPECT_EQ(ReadFile(newRoot + "/alice/docs/a.txt"), "alpha");
  EXPECT_FALSE(fs::exists(oldRoot));
  std::string registered;
  ASSERT_TRUE(CUtil::ReadRootPath(registered));
  EXPECT_EQ(registered, newRoot);
  EXPECT_EQ(FindControl<QLineEdit>(&options, 1020)->text().toStdString(), newRoot);
  ASSERT_NE(app.Logger(), nullptr);
  EXPECT_EQ(app.Logger()->FileName().rfind(newRoot + "/.log/", 0), 0u) << app.Logger()->FileName();

  // The new worker logs in by itself from the moved settings.
  ASSERT_TRUE(IdleAfterRun(app));
  EXPECT_EQ(app.Work()->GetConfig().Get(CConfig::kRootPath), newRoot);
}

TEST_F(ShellServiceTest, DownloadedFilesAppearInTheUpdatesMenu) {
  ServerUser otherComputer(AuthUrl(), "alice", "pw1");
  ASSERT_TRUE(otherComputer.Ready());
  ASSERT_TRUE(otherComputer.PutFolder("/docs"));
  ASSERT_TRUE(otherComputer.PutFile("/docs/a.txt", "alpha", ServerTime(100)));
  const std::string second = dir_ / "B";
  UseRoot(second, true);
  CVorClientApp app;
  ASSERT_TRUE(app.Start());
  ASSERT_TRUE(IdleAfterRun(app));
  ASSERT_EQ(ReadFile(second + "/alice/docs/a.txt"), "alpha") << ReadFile(app.Logger()->FileName());
  // The run's balloon comes right after its last tray state.
  ASSERT_TRUE(WaitUntil([&] { return app.Frame()->Tray().BalloonCount() == 1; }));
  EXPECT_EQ(app.Frame()->Tray().LastBalloon().title, "alice");
  EXPECT_EQ(app.Frame()->Tray().LastBalloon().text, "同步完成: 下载 " + second + "/alice/docs/a.txt...");

  app.Frame()->PrepareTrayMenu();
  QMenu* updates = app.Frame()->TrayMenu()->actions()[0]->menu();
  ASSERT_NE(updates, nullptr);
  ASSERT_GE(updates->actions().size(), 1);
  QAction* newest = updates->actions()[0];
  EXPECT_EQ(newest->data().toInt(), 32901);
  EXPECT_TRUE(newest->text().endsWith(QString::fromStdString(second + "/alice/docs/a.txt")))
      << newest->text().toStdString();
  newest->trigger();
  const auto calls = opener_.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "[" + second + "/alice/docs]");
}
