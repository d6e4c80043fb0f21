#include "protocol/HeartBeat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "foundation/Timing.h"
#include "platform/Messages.h"
#include "tests/support/LogCapture.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kPath = "/axis2/services/vor_service_hb";

std::string HeartbeatAnswer(const std::string& newEvent) {
  return "<operation name=\"heartbeat_rsp\" version=\"version01\"><response_head/><heartbeat_rsp new_event=\"" +
         newEvent + "\"/></operation>";
}

class HeartBeatTest : public testing::Test {
 protected:
  void SetUp() override {
    savedInterval_ = ProcessTiming().heartbeatIntervalMs;
    ProcessTiming().heartbeatIntervalMs = 20;
  }
  void TearDown() override { ProcessTiming().heartbeatIntervalMs = savedInterval_; }

  // Starts a heartbeat whose thread owns it; `ended` is ready once the
  // thread has deleted it.
  CHeartBeat* Start(ScriptedServer& server, int lastRunOk, int timeoutMs, std::future<void>& ended) {
    auto* heart = new CHeartBeat;
    ended = heart->ThreadEnded();
    heart->SetSyncOk(lastRunOk);
    heart->SetCallTimeout(timeoutMs);
    if (heart->Init(&queue_, server.Url(kPath), "alice", "secret", "HOST-7", "") != 1) {
      ADD_FAILURE() << "Init failed";
      delete heart;
      return nullptr;
    }
    return heart;
  }
  size_t Notices() {
    size_t count = 0;
    QueuedMessage message;
    while (queue_.Get(message, 0)) {
      EXPECT_EQ(message.message, WM_WORK_CHANGED);
      EXPECT_EQ(message.wParam, 0u);
      EXPECT_EQ(message.lParam, 0);
      ++count;
    }
    return count;
  }

  LogCapture log_;
  CMessageQueue queue_;
  int savedInterval_ = 0;
};

TEST_F(HeartBeatTest, BeatSendsItsOwnHeadWithoutSourceOrPassport) {
  ScriptedServer server;
  server.Push(SoapReply(HeartbeatAnswer("no")));
  server.SetFallback(Action(ScriptedReply::Action::kHang));
  std::future<void> ended;
  CHeartBeat* heart = Start(server, 1, 10000, ended);
  ASSERT_TRUE(heart);
  ASSERT_TRUE(server.WaitForRequests(2, 5000));
  heart->Stop();
  ASSERT_EQ(ended.wait_for(1s), std::future_status::ready);

  const ReceivedRequest raw = server.Requests().at(0);
  EXPECT_EQ(raw.url, kPath);
  const CapturedPayload sent = DecodeRequest(raw);
  EXPECT_EQ(Attributes(sent.payload), (AttributeList{{"name", "heartbeat"}, {"version", "version01"}}));
  const pugi::xml_node head = sent.payload.first_child();
  EXPECT_STREQ(head.name(), "request_head");
  EXPECT_EQ(Attributes(head),
            (AttributeList{{"user_name", "alice"}, {"password", "5EBE2294ECD0E0F0"}, {"req_sequence", "1"}}));
  EXPECT_STREQ(head.child_value("host_id"), "HOST-7");
  EXPECT_STREQ(head.next_sibling().name(), "heartbeat");
  EXPECT_FALSE(head.next_sibling().first_child());
  EXPECT_FALSE(head.next_sibling().first_attribute());
  EXPECT_STREQ(DecodeRequest(server.Requests().at(1)).payload.child("request_head").attribute("req_sequence").value(),
               "2");
  EXPECT_TRUE(log_.Contains("[CHeartBeat::BuildOmRequest]: request:<operation name=\"heartbeat\""));
  EXPECT_TRUE(log_.Contains("[CHeartBeat::ParseOmResponse]: reqonse:<operation name=\"heartbeat_rsp\""));
}

TEST_F(HeartBeatTest, AnswerChecks) {
  struct Case {
    const char* what;
    std::string payload;
    int result;
    const char* answer;
    const char* line;
  };
  const Case cases[] = {
      {"yes", HeartbeatAnswer("yes"), 1, "yes", nullptr},
      {"root of any name, no new_event",
       "<beat name=\"heartbeat_rsp\" version=\"version01\"><h/><heartbeat_rsp/></beat>", 1, "", nullptr},
      {"operation name without _rsp",
       "<operation name=\"heartbeat\" version=\"version01\"><h/><heartbeat_rsp new_event=\"yes\"/></operation>", 0, "",
       "Mismatched operation heartbeat with heartbeat_rsp"},
      {"other version",
       "<operation name=\"heartbeat_rsp\" version=\"v2\"><h/><heartbeat_rsp new_event=\"yes\"/></operation>", 0, "",
       "Mismatched version v2 with version01"},
      {"no head", "<operation name=\"heartbeat_rsp\" version=\"version01\"/>", 0, "", "Fail to get a node HEAD"},
      {"no body", "<operation name=\"heartbeat_rsp\" version=\"version01\"><h/></operation>", 0, "",
       "[CHeartBeat::ParseOmResponse]: Fail to get a element"},
      {"body of another name",
       "<operation name=\"heartbeat_rsp\" version=\"version01\"><h/><beat_rsp new_event=\"yes\"/></operation>", 0, "",
       "[CHeartBeat::ParseOmResponse]: Fail to get a element"},
  };
  CHeartBeat heart;  // never started: only its parser is used
  for (const Case& c : cases) {
    CSoapAnswer answer;
    std::string error;
    ASSERT_TRUE(answer.Decode(Envelope(c.payload), "application/soap+xml", error)) << c.what;
    std::string text = "before";
    EXPECT_EQ(heart.ParseOmResponse(answer.Payload(), text), c.result) << c.what;
    if (c.result) {
      EXPECT_EQ(text, c.answer) << c.what;
    }
    if (c.line) {
      EXPECT_TRUE(log_.Contains(c.line)) << c.what;
    }
  }
}

// Three beats with the same outcome, then a call that never ends and is
// stopped: the notices of the three beats, none for the stopped one.
TEST_F(HeartBeatTest, NoticeTable) {
  struct Case {
    const char* what;
    ScriptedReply reply;
    int lastRunOk;
    int timeoutMs;
    size_t notices;
  };
  ScriptedReply late = SoapReply(HeartbeatAnswer("yes"));
  late.delayMs = 1500;
  const Case cases[] = {
      {"yes after a finished run", SoapReply(HeartbeatAnswer("yes")), 1, 10000, 3},
      {"yes after an unfinished run", SoapReply(HeartbeatAnswer("yes")), 0, 10000, 3},
      {"no after a finished run", SoapReply(HeartbeatAnswer("no")), 1, 10000, 0},
      {"no after an unfinished run", SoapReply(HeartbeatAnswer("no")), 0, 10000, 3},
      {"failure after a finished run", Status(500), 1, 10000, 3},
      {"failure after an unfinished run", Status(500), 0, 10000, 0},
      {"time-out after a finished run", late, 1, 400, 3},
      {"time-out after an unfinished run", late, 0, 400, 0},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    for (int i = 0; i < 3; ++i) server.Push(c.reply);
    server.SetFallback(Action(ScriptedReply::Action::kHang));
    std::future<void> ended;
    CHeartBeat* heart = Start(server, c.lastRunOk, c.timeoutMs, ended);
    ASSERT_TRUE(heart) << c.what;
    ASSERT_TRUE(server.WaitForRequests(4, 10000)) << c.what;
    heart->Stop();
    ASSERT_EQ(ended.wait_for(1s), std::future_status::ready) << c.what;
    EXPECT_EQ(Notices(), c.notices) << c.what;
  }
}

TEST_F(HeartBeatTest, StopEndsAHangingCallWithinASecond) {
  ScriptedServer server;
  server.SetFallback(Action(ScriptedReply::Action::kHang));
  std::future<void> ended;
  CHeartBeat* heart = Start(server, 1, 120000, ended);
  ASSERT_TRUE(heart);
  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(heart->Stop(), 1);
  ASSERT_EQ(ended.wait_for(1s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(Notices(), 0u) << "the stopped call is no failure to report";
  EXPECT_TRUE(log_.Contains("[CHeartBeat::ParseOmResponse]: Stub invoke FAILED: Error code:  5 :: call stopped"));
}

TEST_F(HeartBeatTest, StopBeforeTheFirstBeatEndsTheThreadWithoutACall) {
  ProcessTiming().heartbeatIntervalMs = 60000;
  ScriptedServer server;
  std::future<void> ended;
  CHeartBeat* heart = Start(server, 1, 120000, ended);
  ASSERT_TRUE(heart);
  heart->Stop();
  ASSERT_EQ(ended.wait_for(1s), std::future_status::ready);
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_EQ(Notices(), 0u);
}

}  // namespace
