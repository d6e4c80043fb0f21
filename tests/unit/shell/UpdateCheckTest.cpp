#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "shell/AboutDlg.h"
#include "shell/DialogKit.h"
#include "shell/UpdateChecker.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

TEST(UpdateCheckTest, NewerOnlyWithThePrefixAndAGreaterName) {
  struct Case {
    const char* answer;
    bool newer;
  };
  const Case cases[] = {
      {"VessaSetup101203.exe", false},  // the same setup
      {"vessasetup101203.EXE", false},  // in any letter case
      {"VessaSetup101210.exe", true},
      {"VESSASETUP101210.exe", true},
      {"VessaSetup101202.exe", false},
      {"ZZZ-unrelated-text", false},   // greater, but not a setup name
      {"", false},
      {"Download VessaSetup101210.exe", false},  // holds the prefix but compares smaller
      {"VessaSetup2.exe", true},                  // byte-wise: "2" > "1"
  };
  for (const Case& c : cases) EXPECT_EQ(IsNewerClient(c.answer), c.newer) << c.answer;
  EXPECT_EQ(LocalSetupName(), "VessaSetup101203.exe");
}

class UpdateServerTest : public testing::Test {
 protected:
  ScriptedReply Reply(int status, const std::string& body) {
    ScriptedReply reply;
    reply.status = status;
    reply.contentType = "text/plain";
    reply.body = body;
    return reply;
  }
  std::string Host() const { return "http://127.0.0.1:" + std::to_string(server_.Port()); }
  // A host where nothing listens.
  std::string DeadHost() const { return "http://127.0.0.1:1"; }

  ScriptedServer server_;
  FakeOpener opener_;
};

TEST_F(UpdateServerTest, QueryGetsTheVersionPageAndTrimsTheAnswer) {
  server_.Push(Reply(200, " VessaSetup101210.exe \t\r\n"));
  server_.Push(Reply(404, "VessaSetup101210.exe"));
  CUpdateChecker checker(Host(), true);
  ASSERT_TRUE(checker.Query());
  EXPECT_EQ(checker.Answer(), " VessaSetup101210.exe") << "trailing white space only";
  const ReceivedRequest request = server_.Requests().at(0);
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.url, "/vorportal/clientVersion");
  EXPECT_EQ(request.Header("User-Agent"), "Vessa client");
  EXPECT_FALSE(checker.Query()) << "HTTP 404 is no answer";
  EXPECT_FALSE(CUpdateChecker(DeadHost(), true).Query());
  EXPECT_FALSE(CUpdateChecker("", true).Query());
}

TEST_F(UpdateServerTest, TrailingLineBreaksAreTrimmed) {
  server_.Push(Reply(200, "vessasetup101203.exe\r\n"));
  CUpdateChecker checker(Host(), false);
  ModalAnswerer answerer;
  EXPECT_FALSE(checker.Check());
  EXPECT_EQ(checker.Answer(), "vessasetup101203.exe");
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("当前已是最新版本！"));
  EXPECT_EQ(answerer.Boxes()[0].title, QString::fromUtf8("Vessa 更新"));
  EXPECT_EQ(answerer.Boxes()[0].icon, QMessageBox::Information);
}

TEST_F(UpdateServerTest, QuietCheckIsSilentUnlessSomethingNewerExists) {
  server_.Push(Reply(200, "VessaSetup101203.exe"));
  server_.Push(Reply(200, "VessaSetup101202.exe"));
  ModalAnswerer answerer;
  EXPECT_FALSE(CUpdateChecker(Host(), true).Check());
  EXPECT_FALSE(CUpdateChecker(Host(), true).Check());
  EXPECT_FALSE(CUpdateChecker(DeadHost(), true).Check());
  Pump(50);
  EXPECT_TRUE(answerer.Boxes().empty());
}

TEST_F(UpdateServerTest, InteractiveCheckWithoutServerSaysSo) {
  ModalAnswerer answerer;
  EXPECT_FALSE(CUpdateChecker(DeadHost(), false).Check());
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("暂时无法连接服务器检查更新，请稍后再试！"));
  EXPECT_EQ(answerer.Boxes()[0].icon, QMessageBox::Warning);
}

TEST_F(UpdateServerTest, QuietCheckAsksTwiceAndEndsEvenWhenTheDownloadIsDeclined) {
  server_.Push(Reply(200, "VessaSetup101210.exe"));
  ModalAnswerer answerer({QMessageBox::Ok, QMessageBox::Cancel});
  EXPECT_TRUE(CUpdateChecker(Host(), true).Check());
  ASSERT_EQ(answerer.Boxes().size(), 2u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("Vessa当前有新版本，请问是否更新?"));
  EXPECT_EQ(answerer.Boxes()[1].text, QString::fromUtf8("当前本地版本为:VessaSetup101203.exe\n"
                                                        "服务器有新版本:VessaSetup101210.exe\n是否立即下载？"));
  for (const SeenBox& box : answerer.Boxes()) {
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  }
  Pump(100);
  EXPECT_TRUE(opener_.Calls().empty()) << "declined: no download page";
}

TEST_F(UpdateServerTest, AcceptedDownloadOpensThePage) {
  server_.Push(Reply(200, "VessaSetup101210.exe"));
  server_.Push(Reply(200, "VessaSetup101210.exe"));
  {
    ModalAnswerer answerer({QMessageBox::Cancel});
    EXPECT_FALSE(CUpdateChecker(Host(), true).Check()) << "the first question declined";
    EXPECT_EQ(answerer.Boxes().size(), 1u);
  }
  ModalAnswerer answerer({QMessageBox::Ok});
  EXPECT_TRUE(CUpdateChecker(Host(), false).Check());
  EXPECT_EQ(answerer.Boxes().size(), 1u) << "interactive: only the second question";
  const auto calls = opener_.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "[" + Host() + "/vorportal/downloadClient]");
}

TEST_F(UpdateServerTest, AboutShowsTheBuildAndChecksOnRequest) {
  CAboutDlg about(DeadHost());
  about.show();
  EXPECT_EQ(about.windowTitle(), "About Vessa");
  EXPECT_EQ(FindControl<QLabel>(&about, 1012)->text(), "Version 1.0 (build 101203)");
  ModalAnswerer answerer;
  FindControl<QPushButton>(&about, 1013)->click();
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].text, QString::fromUtf8("暂时无法连接服务器检查更新，请稍后再试！"));
  EXPECT_TRUE(about.isVisible());
}
