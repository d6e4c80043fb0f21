// Registration, login and its refusals, the root folder, system messages
// and the heartbeat, driven by CBack, CTransmitter and CHeartBeat.
#include <gtest/gtest.h>

#include <functional>

#include "foundation/Timing.h"
#include "protocol/HeartBeat.h"
#include "tests/unit/service/ServiceFixture.h"

namespace {

class ServiceAccountTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    AddUser("ann", "s3cret");
    AddUser("bob", "hunter2");
  }
};

TEST_F(ServiceAccountTest, LoginGivesARootAndEachRegistrationItsOwnHost) {
  const auto first = Connect("ann", "s3cret");
  const auto second = Connect("ann", "s3cret");
  EXPECT_EQ(first->root, "ann");
  EXPECT_FALSE(first->hostId.empty());
  EXPECT_NE(first->hostId, second->hostId) << "two clients on one computer are two hosts";
}

TEST_F(ServiceAccountTest, LoginRefusals) {
  const auto bob = Connect("bob", "hunter2");
  struct Case {
    const char* name;
    std::function<void(ServiceClient&)> spoil;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"unknown passport", [](ServiceClient& c) { c.back.SetCredentials(c.user, c.password, std::string(32, 'a')); },
       "29"},
      {"bob's passport", [&](ServiceClient& c) { c.back.SetCredentials(c.user, c.password, bob->passport); }, "29"},
      {"wrong password", [](ServiceClient& c) { c.back.SetCredentials(c.user, "wrong", c.passport); }, "6"},
      {"bob's host",
       [&](ServiceClient& c) {
         c.back.Init(c.backUrl, c.user, c.password, bob->hostId, "");
         c.back.SetCredentials(c.user, c.password, c.passport);
       },
       "28"},
      {"unknown host",
       [](ServiceClient& c) {
         c.back.Init(c.backUrl, c.user, c.password, "no-such-host", "");
         c.back.SetCredentials(c.user, c.password, c.passport);
       },
       "2"},
  };
  for (const Case& c : cases) {
    const auto ann = Connect("ann", "s3cret");
    c.spoil(*ann);
    std::string result;
    EXPECT_EQ(ann->back.Login(result), 0) << c.name;
    EXPECT_EQ(ann->back.GetLastReason(), c.reason) << c.name;
    EXPECT_NE(result, "OK") << c.name;
  }
}

TEST_F(ServiceAccountTest, ExpiredPassportIs29) {
  ServiceOptions options = Options();
  options.passportLifetime = 0;
  Restart(options);
  CAuth auth;
  auth.Init(Url("/vorportal/LoginServlet"), "ann", "s3cret");
  std::string passport, back, transmitter, heartbeat, host;
  ASSERT_EQ(auth.Request(passport, "", ""), 1);
  auth.GetServers(back, transmitter, heartbeat);
  CBack client;
  client.Init(back, "ann", "s3cret", "", "");
  client.SetCredentials("ann", "s3cret", passport);
  EXPECT_EQ(client.GetHostID("pc", host), 0);
  EXPECT_EQ(client.GetLastReason(), "29");
}

TEST_F(ServiceAccountTest, NewPasswordEndsThePassportsOfTheOldOne) {
  const auto ann = Connect("ann", "s3cret");
  std::string out, result;
  ASSERT_EQ(Admin({"passwd", "ann", "n3w"}, &out), 0) << out;
  EXPECT_EQ(ann->back.Login(result), 0);
  EXPECT_EQ(ann->back.GetLastReason(), "29");
  CAuth old;
  old.Init(Url("/vorportal/LoginServlet"), "ann", "s3cret");
  std::string passport;
  EXPECT_EQ(old.Request(passport, "", ""), 0);
  EXPECT_EQ(old.GetHttpCode(), 401);
  const auto again = Connect("ann", "n3w");
  EXPECT_EQ(again->back.Login(result), 1);
}

TEST_F(ServiceAccountTest, TransmitterChecksPasswordAndHost) {
  const auto ann = Connect("ann", "s3cret");
  const auto bob = Connect("bob", "hunter2");
  CChunkInfo chunk;
  chunk.key = std::string(32, 'A');
  chunk.storageId = std::string(32, 'b');
  struct Case {
    const char* password;
    std::string host;
    const char* reason;
  };
  for (const Case& c : {Case{"wrong", ann->hostId, "6"}, Case{"s3cret", bob->hostId, "28"},
                        Case{"s3cret", "nowhere", "2"}, Case{"s3cret", ann->hostId, "21"}}) {
    CTransmitter transmitter;
    transmitter.Init(ann->transmitterUrl, "ann", c.password, c.host, "");
    std::string result;
    EXPECT_EQ(transmitter.RemoveChunk(chunk, result), 0) << c.reason;
    EXPECT_EQ(transmitter.GetReason(), c.reason);
  }
}

TEST_F(ServiceAccountTest, SystemMessagesComeWithTheirTimes) {
  std::string out;
  ASSERT_EQ(Admin({"message", "维护通知 tonight", "--expire-in", "3600"}, &out), 0) << out;
  ASSERT_EQ(Admin({"message", "second"}, &out), 0) << out;
  EXPECT_EQ(out, "message 2\n");
  const auto ann = Connect("ann", "s3cret");
  CInfoAttrMap messages;
  ASSERT_EQ(ann->back.GetSystemMessage(messages), 1);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages.at(1).info, "维护通知 tonight");
  EXPECT_EQ(messages.at(1).expireTime - messages.at(1).createTime, 3600);
  EXPECT_GT(messages.at(2).expireTime - messages.at(2).createTime, 3600) << "default lifetime is days";
  EXPECT_GT(messages.at(1).createTime, 1600000000);
}

class ServiceHeartbeatTest : public ServiceAccountTest {
 protected:
  void SetUp() override {
    ServiceAccountTest::SetUp();
    saved_ = ProcessTiming().heartbeatIntervalMs;
    ProcessTiming().heartbeatIntervalMs = 3600 * 1000;  // the thread waits; the test beats
  }
  void TearDown() override {
    ProcessTiming().heartbeatIntervalMs = saved_;
    ServiceAccountTest::TearDown();
  }
  // A heartbeat client of `client`'s host; its own thread never beats.
  CHeartBeat* Heart(const ServiceClient& client, const std::string& host) {
    auto* heart = new CHeartBeat;
    EXPECT_EQ(heart->Init(nullptr, client.heartbeatUrl, client.user, client.password, host, ""), 1);
    return heart;
  }
  std::string Beat(CHeartBeat& heart) {
    std::string answer;
    EXPECT_EQ(heart.Beat(answer), 1);
    return answer;
  }
  int saved_ = 0;
};

TEST_F(ServiceHeartbeatTest, NewEventAfterAChangeThroughAnotherHostOrTheAdministrator) {
  const auto home = Connect("ann", "s3cret");
  const auto office = Connect("ann", "s3cret");
  const auto bob = Connect("bob", "hunter2");
  CHeartBeat* heart = Heart(*home, home->hostId);
  EXPECT_EQ(Beat(*heart), "no");

  EXPECT_EQ(Upload(*home, DescribeFolder("ann/own")), "all_chunk_exist");
  EXPECT_EQ(Beat(*heart), "no") << "the host's own change";

  EXPECT_EQ(Upload(*office, DescribeFolder("ann/docs")), "all_chunk_exist");
  EXPECT_EQ(Beat(*heart), "yes");
  EXPECT_EQ(Beat(*heart), "no") << "told once";

  EXPECT_EQ(Upload(*bob, DescribeFolder("bob/x")), "all_chunk_exist");
  EXPECT_EQ(Beat(*heart), "no") << "another account";

  std::string out;
  ASSERT_EQ(Admin({"share", "bob", "/x", "ann"}, &out), 0) << out;
  EXPECT_EQ(Beat(*heart), "yes") << "the administrator shared a folder with ann";

  EXPECT_EQ(Upload(*bob, DescribeFolder(out.substr(6, out.size() - 7) + "/inside")), "all_chunk_exist");
  EXPECT_EQ(Beat(*heart), "yes") << "the owner changed a folder shared with ann";
  heart->Stop();
}

TEST_F(ServiceHeartbeatTest, UnknownHostNeverHearsYes) {
  const auto home = Connect("ann", "s3cret");
  const auto office = Connect("ann", "s3cret");
  CHeartBeat* heart = Heart(*home, "forgotten-host");
  EXPECT_EQ(Upload(*office, DescribeFolder("ann/docs")), "all_chunk_exist");
  EXPECT_NE(Beat(*heart), "yes");
  heart->Stop();
  EXPECT_NE(ServiceLog().find("op=heartbeat user=ann result=reason 2"), std::string::npos);
}

}  // namespace
