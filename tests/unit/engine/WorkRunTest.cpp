// The worker's request table and the notices of a synchronisation run, with
// the back server played by a scripted HTTP server (no authentication server:
// the login goes straight to the back server).
#include <gtest/gtest.h>

#include <future>

#include <memory>
#include <string>
#include <vector>

#include "engine/Work.h"
#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempDir.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uintptr_t kWindow = 5;
const std::string kLoggedOut = "Ordane Storage Service";

std::string Local(const char* utf8) {
  std::string text = utf8;
  CUtil::Utf8ToAnsi(text);
  return text;
}

ScriptedReply LoginOk() { return SoapReply(Answer("login", "<login_rsp/>")); }
ScriptedReply Refused(const std::string& operation, const std::string& reason) {
  return SoapReply(Answer(operation, "", "", "FAIL", reason));
}
ScriptedReply RootOk() { return SoapReply(Answer("obtain_root_folder", "<obtain_root_folder_rsp root_folder=\"R\"/>")); }
ScriptedReply EmptyListing() { return SoapReply(Answer("file_list", "<file_list_rsp compress=\"0\"/>")); }

// The lines of the `run`-th synchronisation run: from its first tray state 1
// up to the next run, a logout or the end.
Lines RunLines(const Lines& all, int run) {
  Lines lines;
  int started = 0;
  bool inRun = false;
  for (const std::string& line : all) {
    const bool runStart = line.rfind("tray: 1 ", 0) == 0 && !inRun;
    if (line == "tray: 0 " + kLoggedOut) break;
    if (runStart) {
      ++started;
      if (started > run) break;
    }
    if (line.rfind("tray: 1 ", 0) == 0) inRun = true;
    if (line.rfind("tray: 0 ", 0) == 0 || line.rfind("tray: 2 ", 0) == 0) inRun = false;
    if (started == run) lines.push_back(line);
  }
  return lines;
}

const Lines kRunStart = {"tray: 1 alice", "message: Sync...", "status: " + Local("同步...")};

Lines Concat(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class WorkRunTest : public testing::Test {
 protected:
  void SetUp() override { Start(); }

  // A new engine, sink and scripted server (the engine goes first).
  void Start() {
    work_.reset();
    sink_ = std::make_unique<RecordingSink>();
    server_ = std::make_unique<ScriptedServer>();
    Timing& timing = ProcessTiming();
    timing.heartbeatIntervalMs = 3600000;  // neither thread may take a scripted answer
    timing.systemMessageFirstMs = 3600000;
    timing.passPauseMs = 20;
    timing.watcherSleepMs = 20;
    ASSERT_TRUE(CUtil::WriteRootPath(root_.path()));
    work_ = std::make_unique<CWork>(*sink_, *sink_);
    ASSERT_EQ(work_->Init(), 1);
    CConfig& config = work_->GetConfig();
    config.Set(CConfig::kAuthServer, "none");
    config.Set(CConfig::kBackServer, server_->Url("/axis2/services/vor_service_bs"));
    config.Set(CConfig::kTransmiterServer, server_->Url("/axis2/services/vor_service_trs"));
    config.Set(CConfig::kHeartbeatServer, server_->Url("/axis2/services/vor_service_hb"));
    config.Set(CConfig::kHostName, "pc");
    config.Set(CConfig::kHostId, "H1");
    work_->SetUser("alice", "secret");
  }

  // Logs out and waits for the answer: everything queued before is done.
  void LogOutAndWait() {
    ASSERT_EQ(work_->Request(WM_WORK_LOGOUT, kWindow), 1);
    ASSERT_EQ(sink_->WaitForPost(kWindow, WM_WORK_LOGOUT_DONE), 0);
  }

  TempDir root_;
  std::unique_ptr<ScriptedServer> server_;
  std::unique_ptr<RecordingSink> sink_;
  std::unique_ptr<CWork> work_;
};

struct RunCase {
  const char* name;
  std::vector<ScriptedReply> afterLogin;  // the answers of the run's calls
  Lines runLines;                          // the first run's notices
  std::size_t requests;                    // calls made in all, login included
};

TEST_F(WorkRunTest, EachWayARunEndsHasItsNotices) {
  const std::string unfinished = Local("同步未完成");
  const std::string reason5 = Local("服务器信息: ") + CUtil::ServerErrorText(5);
  const Lines relogin = {"message: Connecting Auth...", "status: " + Local("连接认证服务器..."),
                         "status: " + Local("连接 back服务器..."), "status: alice", "icon: logged in alice"};
  const RunCase cases[] = {
      {"no answer: unfinished at once, no second pass",
       {Status(500, "down")},
       Concat(kRunStart, {"message: " + unfinished, "tray: 0 alice", "status: " + unfinished}),
       2},
      {"a reason code: its text",
       {Refused("obtain_root_folder", "5")},
       Concat(kRunStart, {"message: " + reason5, "tray: 0 alice", "status: " + reason5}),
       2},
      {"every phase done: finished, no balloon without files",
       {RootOk(), EmptyListing()},
       Concat(kRunStart, {"message: Sync finished", "status: " + Local("同步完成"), "tray: 2 alice"}),
       3},
      {"stale login: one re-login, unfinished, then the login's run",
       {Refused("obtain_root_folder", "28"), LoginOk(), RootOk(), EmptyListing()},
       Concat(Concat(kRunStart, relogin), {"tray: 0 alice", "message: Sync unfinished", "status: " + unfinished}),
       5},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    server_->Push(LoginOk());
    for (const ScriptedReply& reply : c.afterLogin) server_->Push(reply);
    ASSERT_EQ(work_->Request(WM_WORK_LOGIN, kWindow), 1);
    ASSERT_EQ(sink_->WaitForPost(kWindow, WM_WORK_LOGIN_DONE), 1);
    ASSERT_NE(sink_->WaitForRunEnd(1), -1);
    if (c.requests == 5) {
      ASSERT_EQ(sink_->WaitForRunEnd(2), 2);  // the run the re-login queued
    }
    LogOutAndWait();
    EXPECT_EQ(RunLines(sink_->Lines(), 1), c.runLines);
    EXPECT_EQ(server_->RequestCount(), c.requests);
    EXPECT_EQ(work_->IsSyncEnabled(), 0);
  }
}

TEST_F(WorkRunTest, AFailedReloginLeavesTheRunDisabled) {
  server_->Push(LoginOk());
  server_->Push(Refused("obtain_root_folder", "29"));
  server_->Push(Refused("login", "7"));
  ASSERT_EQ(work_->Request(WM_WORK_LOGIN, kWindow), 1);
  ASSERT_EQ(sink_->WaitForPost(kWindow, WM_WORK_LOGIN_DONE), 1);
  ASSERT_EQ(sink_->WaitForRunEnd(1), 0);
  const Lines lines = RunLines(sink_->Lines(), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "tray: 0 alice");
  EXPECT_EQ(sink_->Count("status: " + Local("登录失败")), 1u);
  EXPECT_EQ(work_->IsSyncEnabled(), 0);
}

TEST_F(WorkRunTest, LoginAnswersTheRequesterAndLostRegistrationRegistersAgain) {
  // Reason 28 at login: the host id is dropped, the computer registered again.
  server_->Push(Refused("login", "28"));
  server_->Push(SoapReply(Answer("obtain_host_id", "<obtain_host_id_rsp host_id=\"H2\"/>")));
  server_->Push(LoginOk());
  server_->SetFallback(Action(ScriptedReply::Action::kDrop));
  ASSERT_EQ(work_->Request(WM_WORK_LOGIN, 3), 1);
  EXPECT_EQ(sink_->WaitForPost(3, WM_WORK_LOGIN_DONE), 1);
  EXPECT_EQ(work_->GetConfig().Get(CConfig::kHostId), "H2");
  EXPECT_EQ(sink_->Count("balloon: alice: " + Local("本机与服务器的主机连接已被断开，将重新连接服务器获取新凭证...")), 1u);
  EXPECT_EQ(work_->IsLoggedIn(), 1);

  // Another reason ends the login with 0 for its requester.
  LogOutAndWait();
  server_->Push(Refused("login", "7"));
  ASSERT_EQ(work_->Request(WM_WORK_LOGIN, 4), 1);
  EXPECT_EQ(sink_->WaitForPost(4, WM_WORK_LOGIN_DONE), 0);
  EXPECT_EQ(work_->IsLoggedIn(), 0);
}

TEST_F(WorkRunTest, AChangeNoticeWhileARunIsDueIsDropped) {
  // Not logged in: the run fails at once for want of a back server, which is
  // all this needs.
  // Both notices are queued while the worker is held inside an earlier
  // request's notice, so the run the first one asks for is still due when
  // the second one is handled.
  std::promise<void> held;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  bool first = true;
  sink_->onSend = [&](const Notice&) {
    if (!first) return;
    first = false;
    held.set_value();
    released.wait();
  };
  ASSERT_EQ(work_->Request(WM_WORK_LOGOUT, kWindow), 1);
  held.get_future().wait();
  ASSERT_EQ(work_->Request(WM_WORK_CHANGED), 1);
  ASSERT_EQ(work_->Request(WM_WORK_CHANGED), 1);
  release.set_value();
  ASSERT_EQ(sink_->WaitForPost(kWindow, WM_WORK_LOGOUT_DONE), 0);
  ASSERT_NE(sink_->WaitForRunEnd(1), -1);
  sink_->onSend = nullptr;
  LogOutAndWait();  // queued behind any run the second notice could have asked for
  EXPECT_EQ(sink_->Count("message: Sync..."), 1u);
}

TEST_F(WorkRunTest, QuitAndUnknownMessagesAreIgnoredAndLogoutIsAnswered) {
  ASSERT_EQ(work_->Request(0x0012), 1);  // a quit message
  ASSERT_EQ(work_->Request(4242, 77), 1);
  LogOutAndWait();
  EXPECT_EQ(sink_->Lines(), (Lines{"tray: 0 " + kLoggedOut, "status: " + kLoggedOut, "icon: logged out"}));
  const std::vector<RecordingSink::Posted> posted = sink_->PostedAnswers();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].message, WM_WORK_LOGOUT_DONE);
}

TEST_F(WorkRunTest, ARenameRequestCarriesTheOldAndTheNewPath) {
  LogCapture log;
  ASSERT_EQ(work_->Request(WM_WORK_RENAME, 0, "docs\\old name.txt|docs/new|name.txt"), 1);
  ASSERT_NE(sink_->WaitForRunEnd(1), -1);
  EXPECT_TRUE(log.Contains("Rename docs/old name.txt -> docs/new|name.txt")) << log.Text();
}

TEST_F(WorkRunTest, DestructionEndsTheThreadsWhileTheyWait) {
  // Long waits everywhere: the heartbeat, the system messages, the pass pause.
  ProcessTiming().passPauseMs = 3600000;
  server_->Push(LoginOk());
  server_->Push(RootOk());
  server_->Push(EmptyListing());
  ASSERT_EQ(work_->Request(WM_WORK_LOGIN, kWindow), 1);
  ASSERT_EQ(sink_->WaitForPost(kWindow, WM_WORK_LOGIN_DONE), 1);
  ASSERT_TRUE(server_->WaitForRequests(3, 30000));
  work_.reset();  // must not wait out the pause; a hang here fails the test by its time-out
  EXPECT_EQ(sink_->Count("tray: 2 alice"), 0u);
}

}  // namespace
