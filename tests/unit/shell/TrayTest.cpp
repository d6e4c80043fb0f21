#include <gtest/gtest.h>

#include <QMainWindow>
#include <QStatusBar>
#include <atomic>
#include <thread>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "shell/LocalText.h"
#include "shell/MainFrame.h"
#include "shell/ShellSink.h"
#include "shell/Tray.h"
#include "shell/TrayIconState.h"
#include "shell/VorClientApp.h"
#include "tests/unit/shell/ShellTestSupport.h"

namespace {

Notice TrayNotice(int state, const std::string& tip) {
  Notice notice;
  notice.id = WM_SET_TRAY_STATE;
  notice.state = state;
  notice.text = tip;
  return notice;
}

Notice TextNotice(unsigned id, const std::string& text, const std::string& title = "") {
  Notice notice;
  notice.id = id;
  notice.text = text;
  notice.title = title;
  return notice;
}

}  // namespace

// ---- the icon sequence ----------------------------------------------------

TEST(TrayIconStateTest, LifecycleShowsTheDocumentedIcons) {
  CTrayIconState state;
  state.Added();
  EXPECT_EQ(state.Icon(), 128);
  EXPECT_EQ(state.ToolTip(), "Vessa - Ordane Storage Service");
  state.LoggedOut();
  EXPECT_EQ(state.Icon(), 157);
  state.LoggedIn("alice");
  EXPECT_EQ(state.Icon(), 128);
  EXPECT_EQ(state.ToolTip(), "alice");

  state.SetState(1, "alice");
  EXPECT_TRUE(state.Blinking());
  EXPECT_EQ(state.Icon(), 128) << "unchanged until the first tick";
  std::vector<int> frames;
  for (int i = 0; i < 5; ++i) {
    state.Tick();
    frames.push_back(state.Icon());
  }
  EXPECT_EQ(frames, (std::vector<int>{154, 153, 154, 153, 154}));

  state.SetState(2, "");
  EXPECT_FALSE(state.Blinking());
  EXPECT_EQ(state.Icon(), 156);
  EXPECT_EQ(state.ToolTip(), "alice") << "no tooltip given: the old one stays";
  state.Tick();
  EXPECT_EQ(state.Icon(), 156) << "a stray tick after the run changes nothing";

  state.SetState(1, "alice");
  state.Tick();
  state.SetState(0, "bob");
  EXPECT_EQ(state.Icon(), 128);
  EXPECT_EQ(state.ToolTip(), "bob");
  state.SetState(7, "");
  EXPECT_EQ(state.Icon(), 128) << "any other state is the normal icon";
}

TEST(TrayTest, BlinkTimerRunsEveryHalfSecondOnlyWhileSynchronising) {
  CTray tray;
  tray.Add();
  tray.SetState(1, "alice");
  EXPECT_TRUE(tray.BlinkTimerActive());
  EXPECT_EQ(tray.BlinkIntervalMs(), 500);
  ASSERT_TRUE(WaitUntil([&] { return tray.State().Icon() == 154; }, 2000)) << "the first tick shows 154";
  ASSERT_TRUE(WaitUntil([&] { return tray.State().Icon() == 153; }, 2000)) << "the next one 153";
  tray.SetState(0, "");
  EXPECT_FALSE(tray.BlinkTimerActive());
  EXPECT_EQ(tray.State().Icon(), 128);
  Pump(700);
  EXPECT_EQ(tray.State().Icon(), 128);

  tray.SetState(1, "");
  tray.StopBlinking();  // the logout answer
  EXPECT_FALSE(tray.BlinkTimerActive());
}

TEST(TrayTest, LongTextsAreCutOnACharacterBoundary) {
  CTray tray;
  tray.Add();
  std::string tip;
  for (int i = 0; i < 60; ++i) tip += "同";  // 3 bytes each: 180 bytes
  tray.SetToolTip(tip);
  EXPECT_EQ(tray.State().ToolTip().size(), 126u) << "42 whole characters fit 127 bytes";
  EXPECT_EQ(tray.State().ToolTip(), tip.substr(0, 126));
  tray.SetState(0, std::string(200, 'x'));
  EXPECT_EQ(tray.State().ToolTip(), std::string(127, 'x'));

  tray.ShowBalloon(tip + tip, "标题标题标题标题标题标题标题标题标题标题标题标题标题", 1000);
  EXPECT_EQ(tray.LastBalloon().text.size(), 255u);
  EXPECT_EQ(tray.LastBalloon().title.size(), 63u);
  EXPECT_EQ(CutUtf8("ab同", 4), "ab");
  EXPECT_EQ(CutUtf8("ab同", 5), "ab同");
}

TEST(TrayTest, ATrayThatComesBackGetsTheIconAgain) {
  bool there = false;
  CTray tray;
  tray.SetAvailabilityProbe([&] { return there; });
  tray.Add();
  tray.LoggedIn("alice");
  tray.SetState(2, "alice");
  tray.CheckTrayAvailability();
  EXPECT_EQ(tray.State().Icon(), 156) << "still no tray: nothing happens";
  there = true;
  tray.CheckTrayAvailability();
  EXPECT_EQ(tray.State().Icon(), 128);
  EXPECT_EQ(tray.State().ToolTip(), "Vessa - Ordane Storage Service");
  tray.SetState(2, "alice");
  tray.CheckTrayAvailability();
  EXPECT_EQ(tray.State().Icon(), 156) << "a tray that stays is left alone";
}

// ---- the frame with the worker's notices ---------------------------------

class FrameTest : public ShellFixture {
 protected:
  void SetUp() override {
    ShellFixture::SetUp();
    app_.CreateFrame();
    ASSERT_TRUE(app_.StartWorker());
  }
  CMainFrame& Frame() { return *app_.Frame(); }

  CVorClientApp app_;
};

TEST_F(FrameTest, StartsHiddenWithTheLoggedOutIcon) {
  EXPECT_FALSE(Frame().isVisible());
  EXPECT_EQ(Frame().windowTitle(), "Vessa - Ordane Storage Service");
  EXPECT_EQ(Frame().Tray().State().Icon(), 157);
  EXPECT_EQ(Frame().Tray().State().ToolTip(), "Vessa - Ordane Storage Service");
}

TEST_F(FrameTest, NoticesFromTheWorkerThreadAreHandledBeforeSendReturns) {
  CShellSink& sink = *app_.Sink();
  std::atomic<int> sent{0};
  std::vector<int> iconSeenAfterSend;
  std::thread worker([&] {
    sink.Send(TrayNotice(2, LocalFromUtf8("爱丽丝")));
    iconSeenAfterSend.push_back(Frame().Tray().State().Icon());  // the frame already changed it
    sink.Send(TextNotice(WM_SETMESSAGESTRING, LocalFromUtf8("同步完成")));
    sink.ShowLoggedInIcon("alice");
    sent = 1;
  });
  ASSERT_TRUE(WaitUntil([&] { return sent == 1; }));
  worker.join();
  EXPECT_EQ(iconSeenAfterSend, std::vector<int>{156});
  EXPECT_EQ(Frame().StatusText(), QString::fromUtf8("同步完成"));
  EXPECT_EQ(Frame().Tray().State().Icon(), 128);
  EXPECT_EQ(Frame().Tray().State().ToolTip(), "alice");

  Frame().HandleNotice(TextNotice(WM_SHOW_STATUS, LocalFromUtf8("同步...")));
  EXPECT_EQ(Frame().Tray().State().ToolTip(), "同步...");
  EXPECT_EQ(Frame().Tray().State().Icon(), 128) << "a status notice changes the tooltip only";
}

TEST_F(FrameTest, ClosedSinkNeverBlocksTheWorker) {
  CShellSink& sink = *app_.Sink();
  sink.SetOpen(false);
  std::atomic<int> done{0};
  bool answer = true;
  std::thread worker([&] {
    sink.Send(TrayNotice(2, "alice"));
    answer = sink.AskOkCancel("?");
    done = 1;
  });
  // The UI thread does not handle events here: a closed sink must not need it.
  for (int i = 0; i < 500 && done == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(done, 1);
  worker.join();
  EXPECT_FALSE(answer) << "a question nobody saw is not an OK";
  Pump(50);
  EXPECT_EQ(Frame().Tray().State().Icon(), 157) << "nothing was delivered";
  sink.SetOpen(true);
}

TEST_F(FrameTest, WaitingSenderIsReleasedWhenTheSinkCloses) {
  CShellSink& sink = *app_.Sink();
  std::atomic<int> done{0};
  std::thread worker([&] {
    sink.Send(TrayNotice(2, "alice"));  // waits: the UI thread is not looking at events
    done = 1;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(done, 0);
  sink.SetOpen(false);
  worker.join();
  EXPECT_EQ(done, 1);
  sink.SetOpen(true);
  Pump(50);
  EXPECT_EQ(Frame().Tray().State().Icon(), 157) << "the abandoned notice stays undelivered";
}

TEST_F(FrameTest, BalloonsFollowTheNoticesSwitchButIAmHereDoesNot) {
  const Notice balloon = TextNotice(WM_SHOW_BALLOON, LocalFromUtf8("同步完成: a.txt..."), "alice");
  Frame().HandleNotice(balloon);
  EXPECT_EQ(Frame().Tray().BalloonCount(), 1);
  EXPECT_EQ(Frame().Tray().LastBalloon().text, "同步完成: a.txt...");
  EXPECT_EQ(Frame().Tray().LastBalloon().title, "alice");
  EXPECT_EQ(Frame().Tray().LastBalloon().timeoutMs, 1000);

  app_.Work()->GetConfig().SetShowNotices(0);
  Frame().HandleNotice(balloon);
  EXPECT_EQ(Frame().Tray().BalloonCount(), 1) << "suppressed";

  Frame().show();
  Frame().setWindowState(Qt::WindowMinimized);
  ASSERT_TRUE(WaitUntil([&] { return Frame().Tray().BalloonCount() == 2; }));
  EXPECT_EQ(Frame().Tray().LastBalloon().text, "I am here");
  EXPECT_EQ(Frame().Tray().LastBalloon().title, "Vessa");
  EXPECT_FALSE(Frame().isVisible());
  EXPECT_FALSE(Frame().ShownFlag());
}

TEST_F(FrameTest, LogoutAnswerStopsBlinkingAndSaysSo) {
  Frame().HandleNotice(TrayNotice(1, "alice"));
  EXPECT_TRUE(Frame().Tray().BlinkTimerActive());
  app_.Sink()->Post(app_.FrameHandle(), WM_WORK_LOGOUT_DONE, 0);
  ASSERT_TRUE(WaitUntil([&] { return !Frame().Tray().BlinkTimerActive(); }));
  EXPECT_EQ(Frame().StatusText(), QString::fromUtf8("注销成功"));
}

TEST_F(FrameTest, DoubleClickTogglesTheShownFlagAndOpensTheUserFolder) {
  app_.Work()->GetConfig().Set(CConfig::kLoginUser, "alice");
  EXPECT_TRUE(Frame().ShownFlag());
  Frame().TrayDoubleClicked();
  EXPECT_FALSE(Frame().ShownFlag());
  Frame().TrayDoubleClicked();
  EXPECT_TRUE(Frame().ShownFlag());
  const auto calls = opener_.WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "[" + Root() + "/alice]");
  EXPECT_EQ(calls[1], calls[0]);
}
