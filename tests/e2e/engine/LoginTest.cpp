// Logging in and staying logged in: a stale login at the service, an
// authentication server that does not answer or refuses, the question for a
// new user's existing folder, and what the threads started by the login do
// (system messages, heartbeat, watcher).
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "foundation/Timing.h"
#include "tests/e2e/engine/EngineFixture.h"
#include "tests/support/ScriptedServer.h"

namespace {

namespace fs = std::filesystem;

class LoginTest : public EngineE2ETest {
 protected:
  // An engine whose authentication server takes every request and never answers.
  std::unique_ptr<TestEngine> EngineOnSilentAuthServer(ScriptedServer& silent) {
    ScriptedReply drop;
    drop.action = ScriptedReply::Action::kDrop;
    silent.SetFallback(drop);
    return std::make_unique<TestEngine>(Root(), silent.Url("/vorportal/LoginServlet"), "alice", "alice-pw");
  }
};

TEST_F(LoginTest, AStaleLoginAtTheServiceLeadsToOneReloginWithinTheRun) {
  service_->Stop();
  ASSERT_TRUE(service_->Start({"--passport-lifetime", "3"}));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  ASSERT_EQ(engine->sink().WaitForRunEnd(1), 2);
  std::this_thread::sleep_for(std::chrono::seconds(4));  // the passport expires

  const std::size_t linesBefore = engine->sink().Lines().size();
  EXPECT_EQ(engine->Sync(), 0);                       // the run logged in again, then ended unfinished
  EXPECT_EQ(engine->sink().WaitForRunEnd(3), 2);      // the run the new login queued
  const std::vector<std::string> lines = engine->sink().Lines();
  const std::vector<std::string> since(lines.begin() + static_cast<long>(linesBefore), lines.end());
  EXPECT_EQ(std::count(since.begin(), since.end(), "message: Connecting Auth..."), 1);
  EXPECT_EQ(std::count(since.begin(), since.end(), "icon: logged in alice"), 1);
  EXPECT_EQ(std::count(since.begin(), since.end(), "message: Sync unfinished"), 1);
  EXPECT_EQ(engine->work().IsLoggedIn(), 1);
}

TEST_F(LoginTest, AnAuthenticationServerThatDoesNotAnswerIsRetriedUntilTheLoginIsCancelled) {
  ScriptedServer silent;
  auto engine = EngineOnSilentAuthServer(silent);
  ASSERT_TRUE(engine->Started());
  ASSERT_EQ(engine->work().Request(WM_WORK_LOGIN, TestEngine::kWindow), 1);
  ASSERT_TRUE(silent.WaitForRequests(3, 30000));
  EXPECT_EQ(engine->sink().PostedAnswers().size(), 0u);  // still trying
  engine->work().SetLoginCancel(1);
  EXPECT_EQ(engine->sink().WaitForPost(TestEngine::kWindow, WM_WORK_LOGIN_DONE), 0);
  EXPECT_GE(engine->sink().Count("status: " + Local("认证服务器没有响应,重新连接...")), 3u);
  EXPECT_EQ(engine->sink().Count("status: " + Local("退出登录 ")), 1u);
  EXPECT_TRUE(log_.Contains("login cancel"));
  EXPECT_EQ(engine->work().IsLoggedIn(), 0);
}

TEST_F(LoginTest, ACancelPressedWhileNoLoginRanDoesNotEndTheNextLogin) {
  ScriptedServer silent;
  auto engine = EngineOnSilentAuthServer(silent);
  ASSERT_TRUE(engine->Started());
  engine->work().SetLoginCancel(1);  // a dialog's cancel, long before the login
  ASSERT_EQ(engine->work().Request(WM_WORK_LOGIN, TestEngine::kWindow), 1);
  ASSERT_TRUE(silent.WaitForRequests(3, 30000));  // retried, not ended at its first retry
  EXPECT_EQ(engine->sink().PostedAnswers().size(), 0u);
  engine->work().SetLoginCancel(1);
  EXPECT_EQ(engine->sink().WaitForPost(TestEngine::kWindow, WM_WORK_LOGIN_DONE), 0);
}

TEST_F(LoginTest, ARefusedPasswordFailsAtOnce) {
  auto engine = Engine("alice", "wrong");
  EXPECT_EQ(engine->LogIn(), 0);
  EXPECT_EQ(engine->sink().Count("status: " + Local(" 认证失败 ")), 1u);
  EXPECT_EQ(engine->sink().Count("balloon: alice: " + Local(" 认证失败 ")), 1u);
  EXPECT_EQ(engine->sink().Count("status: " + Local("认证服务器没有响应,重新连接...")), 0u);
  EXPECT_TRUE(log_.Contains("alice Auth failed:401"));
}

TEST_F(LoginTest, ANewUserWhoseFolderExistsIsAskedBeforeAnything) {
  auto engine = Engine("alice", "alice-pw");
  fs::create_directories(engine->UserFolder());
  WriteFile(engine->Local("/mine.txt"), "mine");
  engine->sink().answerOk = false;
  EXPECT_EQ(engine->LogIn(), 0);
  EXPECT_EQ(engine->sink().Count("question: " + Local("本地已存在该用户数据文件夹，此文件夹下原有文件将被同步到服务器")),
            1u);
  EXPECT_EQ(ReadFile(engine->Local("/mine.txt")), "mine");
  EXPECT_EQ(engine->work().IsLoggedIn(), 0);

  engine->sink().answerOk = true;
  EXPECT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(ReadFile(engine->Local("/mine.txt")), "mine");
}

TEST_F(LoginTest, SystemMessagesAreShownOnceAndExpiredOnesNever) {
  ASSERT_EQ(service_->Admin({"message", "old news", "--expire-in", "1"}), 0);
  ASSERT_EQ(service_->Admin({"message", "maintenance tonight"}), 0);
  Timing& timing = ProcessTiming();
  timing.systemMessageFirstMs = 1500;  // the first message has expired by then
  timing.systemMessageIntervalMs = 100;
  timing.systemMessageRetryMs = 100;
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  ASSERT_TRUE(engine->sink().WaitForLine("balloon: alice: maintenance tonight"));
  // Later fetches bring the same messages: nothing new to show.
  const auto fetches = [&] { return LoggedRequests(log_.Text(), {"name=\"system_message\""}); };
  const std::size_t first = fetches();
  for (int i = 0; i < 200 && fetches() < first + 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_GE(fetches(), first + 2);
  EXPECT_EQ(engine->sink().Count("balloon: alice: maintenance tonight"), 1u);
  EXPECT_EQ(engine->sink().Count("balloon: alice: old news"), 0u);
}

TEST_F(LoginTest, TheHeartbeatBringsAChangeMadeElsewhere) {
  ProcessTiming().heartbeatIntervalMs = 100;
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  ServerUser elsewhere(service_->AuthUrl(), "alice", "alice-pw", "other-pc");
  ASSERT_TRUE(elsewhere.Ready());
  ASSERT_TRUE(elsewhere.PutFile("/from-elsewhere.txt", "hello", ServerTime(1)));
  ASSERT_TRUE(engine->sink().WaitForLine("status: " + Local("下载新文件: ") + "/from-elsewhere.txt"));
  ASSERT_NE(engine->sink().WaitForRunEnd(engine->sink().RunsStarted()), -1);
  EXPECT_EQ(ReadFile(engine->Local("/from-elsewhere.txt")), "hello");
}

TEST_F(LoginTest, ALocalChangeWhileIdleStartsARun) {
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  const std::size_t runs = engine->sink().RunsStarted();
  WriteFile(engine->Local("/new.txt"), "new");
  EXPECT_NE(engine->sink().WaitForRunEnd(runs + 1), -1);
  EXPECT_TRUE(log_.Contains("Added     - new.txt"));
}

TEST_F(LoginTest, ABurstOfLocalChangesWhileIdleAsksForOneRun) {
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  const std::size_t runs = engine->sink().RunsStarted();
  fs::create_directories(engine->Local("/copied"));
  for (int i = 0; i < 100; ++i) WriteFile(engine->Local("/copied/f" + std::to_string(i)), "x");
  // Quiet for a while: every run the burst asked for has ended.
  for (std::size_t seen = 0; seen != engine->sink().RunsStarted() || !engine->work().IsSyncEnabled();) {
    seen = engine->sink().RunsStarted();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
  }
  EXPECT_GE(engine->sink().RunsStarted() - runs, 1u);
  EXPECT_LE(engine->sink().RunsStarted() - runs, 3u);
  EXPECT_EQ(engine->sink().WaitForRunEnd(engine->sink().RunsStarted()), 2);
}

}  // namespace
