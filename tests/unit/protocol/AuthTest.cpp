#include "protocol/Auth.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/ScriptedServer.h"

namespace {

constexpr const char* kPath = "/vorportal/LoginServlet";
const std::string kServers = "back_server=http://h:8080/axis2/services/vor_service_bs; "
                             "trs_server=http://h:8080/axis2/services/vor_service_trs; "
                             "hb_server=http://h:8080/axis2/services/vor_service_hb;";

ScriptedReply AuthReply(const std::string& setVessa, bool passport = true, bool digest = true) {
  ScriptedReply reply;
  reply.contentType = "text/html";
  reply.body = "<html>welcome</html>";
  if (passport) reply.headers.emplace_back("Set-Cookie", "ordanePassport=PP-123; Path=/");
  reply.headers.emplace_back("Set-Cookie", "JSESSIONID=abc; Path=/");
  if (!setVessa.empty()) reply.headers.emplace_back("Set-Vessa", setVessa);
  if (digest) reply.digest = ScriptedReply::Digest{"vessa", "alice", "secret"};
  return reply;
}

class AuthTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(auth_.Init(server_.Url(kPath), "alice", "secret")); }

  LogCapture log_;
  ScriptedServer server_;
  CAuth auth_;
};

TEST_F(AuthTest, DigestExchangeYieldsThePassportAndTheServers) {
  server_.Push(AuthReply("result=OK; " + kServers));
  std::string passport;
  ASSERT_EQ(auth_.Request(passport, "", ""), 1) << log_.Text();
  EXPECT_EQ(passport, "PP-123");
  EXPECT_EQ(auth_.GetHttpCode(), 200);
  std::string back, transmitter, heartbeat;
  EXPECT_EQ(auth_.GetServers(back, transmitter, heartbeat), 1);
  EXPECT_EQ(back, "http://h:8080/axis2/services/vor_service_bs");
  EXPECT_EQ(transmitter, "http://h:8080/axis2/services/vor_service_trs");
  EXPECT_EQ(heartbeat, "http://h:8080/axis2/services/vor_service_hb");

  const std::vector<ReceivedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u) << "a challenge, then the answer to it";
  for (const ReceivedRequest& r : requests) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.url, kPath);
    EXPECT_EQ(r.Header("User-Agent"), "Vessa Client");
  }
  EXPECT_EQ(requests[0].Header("Authorization"), "");
  EXPECT_EQ(requests[1].Header("Authorization").rfind("Digest username=\"alice\"", 0), 0u);
  EXPECT_TRUE(log_.Contains("[CAuth::Request]: Using endpoint : " + server_.Url(kPath)));
  EXPECT_TRUE(log_.Contains("[CAuth::ParserContent]: get back server: http://h:8080/axis2/services/vor_service_bs"));
  EXPECT_TRUE(log_.Contains("get transmitter server: http://h:8080/axis2/services/vor_service_trs"));
  EXPECT_TRUE(log_.Contains("get heartbeat server: http://h:8080/axis2/services/vor_service_hb"));
  EXPECT_FALSE(log_.Contains("PP-123")) << "the passport stays out of the log";
}

TEST_F(AuthTest, AWrongPasswordEndsWithTheStatus) {
  server_.Push(AuthReply("result=OK; " + kServers));
  std::string passport = "before";
  EXPECT_EQ(auth_.Request(passport, "alice", "wrong"), 0);
  EXPECT_EQ(auth_.GetHttpCode(), 401);
  EXPECT_EQ(passport, "before");
  EXPECT_TRUE(log_.Contains("[CAuth::Request]: Fail to process http ack code: 401"));
  // The new credentials are kept for the next request.
  EXPECT_EQ(auth_.Request(passport, "", ""), 0);
  EXPECT_EQ(auth_.GetHttpCode(), 401);
}

TEST_F(AuthTest, SetVessaLinesAsTheServiceWritesThem) {
  struct Case {
    const char* what;
    std::string line;
    int parsed;
    const char* back;
    const char* transmitter;
    const char* heartbeat;
    std::string logLine;
  };
  const Case cases[] = {
      {"blank after an equals sign", "Set-Vessa: result=OK; back_server= A; trs_server=B; hb_server=C;\r\n", 1, "A",
       "B", "C", "get heartbeat server: C"},
      {"blank before a semicolon belongs to the value", "Set-Vessa: result = OK; back_server=A ; trs_server=B;"
       " hb_server=C;\r\n", 1, "A ", "B", "C", "get back server: A "},
      {"no final semicolon", "Set-Vessa: result=OK; back_server= A; trs_server=B; hb_server=C\r\n", 0, "A", "B", "",
       "[CAuth::GetFieldItem]: Fail to find {hb_server} from {: result=OK; back_server= A; trs_server=B; "
       "hb_server=C\r}..."},
      {"result not OK", "Set-Vessa: result=NO; " + kServers + "\r\n", 0, "", "", "",
       "[CAuth::ParserContent]: get auth result: NO"},
      {"no result item", "Set-Vessa: " + kServers + "\r\n", 0, "", "", "",
       "[CAuth::ParserContent]: Fail to get item {Set-Vessa} from : " + kServers + "\r"},
      {"another header", "Set-Cookie: a=b\r\n", 0, "", "", "", ""},
  };
  for (const Case& c : cases) {
    CAuth auth;
    EXPECT_EQ(auth.ParserContent(c.line), c.parsed) << c.what;
    std::string back, transmitter, heartbeat;
    auth.GetServers(back, transmitter, heartbeat);
    EXPECT_EQ(back, c.back) << c.what;
    EXPECT_EQ(transmitter, c.transmitter) << c.what;
    EXPECT_EQ(heartbeat, c.heartbeat) << c.what;
    if (!c.logLine.empty()) {
      EXPECT_TRUE(log_.Contains(c.logLine)) << c.what;
    }
  }
}

TEST_F(AuthTest, AnIncompleteServerListFailsDespiteStatusAndPassport) {
  server_.Push(AuthReply("result=OK; back_server= A; trs_server=B; hb_server=C"));
  std::string passport;
  EXPECT_EQ(auth_.Request(passport, "", ""), 0);
  EXPECT_EQ(auth_.GetHttpCode(), 200);
  EXPECT_EQ(passport, "PP-123");
  EXPECT_TRUE(log_.Contains("[CAuth::Request]: Fail to get servers list: backer(A), transmitter(B), heartbeater()"));

  server_.Push(AuthReply("result=DENIED; " + kServers));
  EXPECT_EQ(auth_.Request(passport, "", ""), 0);
  EXPECT_TRUE(log_.Contains("get auth result: DENIED"));
  EXPECT_TRUE(log_.Contains("Fail to get servers list: backer(), transmitter(), heartbeater()"));
}

TEST_F(AuthTest, PassportIsTheValueAfterTheCookieName) {
  EXPECT_EQ(CAuth::PassportFromCookies({"127.0.0.1\tFALSE\t/\tFALSE\t0\tJSESSIONID\tx",
                                        "127.0.0.1\tFALSE\t/\tFALSE\t0\tordanePassport\tvalue-1",
                                        "h\tFALSE\t/\tFALSE\t0\tordanePassport\tvalue-2"}),
            "value-1");
  EXPECT_EQ(CAuth::PassportFromCookies({"h\tFALSE\t/\tFALSE\t0\tsid\tx"}), "");

  server_.Push(AuthReply("result=OK; " + kServers, /*passport=*/false));
  std::string passport;
  EXPECT_EQ(auth_.Request(passport, "alice", "secret"), 0);
  EXPECT_TRUE(log_.Contains("[CAuth::Request]: Fail to get passport for User {alice}"));
}

TEST_F(AuthTest, HeaderFieldAndItemFailuresHaveTheirTexts) {
  std::string value;
  struct Case {
    int (*function)(const std::string&, const std::string&, std::string&);
    const char* text;
    const char* name;
    int result;
    const char* expected;  // value or log line
  };
  const Case cases[] = {
      {CAuth::GetHeaderField, "Set-Vessa:  a=b;\r\nnext", "Set-Vessa", 1, ":  a=b;\r"},
      {CAuth::GetHeaderField, "", "Set-Vessa", 0, "[CAuth::GetHeaderField]: Fail to find {Set-Vessa} from {}"},
      {CAuth::GetHeaderField, "Other: x", "Set-Vessa", 0,
       "[CAuth::GetHeaderField]: Fail to find {Set-Vessa} from {Other: x}."},
      {CAuth::GetFieldItem, ": x = 1;", "x", 1, "1"},
      {CAuth::GetFieldItem, ": x=1\nrest", "x", 1, "1"},
      {CAuth::GetFieldItem, ": a=1;", "", 0, "[CAuth::GetFieldItem]: Fail to find {} from {: a=1;}"},
      {CAuth::GetFieldItem, ": a=1;", "b", 0, "[CAuth::GetFieldItem]: Fail to find {b} from {: a=1;}."},
      {CAuth::GetFieldItem, ": a:1;", "a", 0, "[CAuth::GetFieldItem]: Fail to find {a} from {: a:1;}.."},
      {CAuth::GetFieldItem, ": a=1", "a", 0, "[CAuth::GetFieldItem]: Fail to find {a} from {: a=1}..."},
  };
  for (const Case& c : cases) {
    value = "untouched";
    EXPECT_EQ(c.function(c.text, c.name, value), c.result) << c.text;
    if (c.result) {
      EXPECT_EQ(value, c.expected);
    } else {
      EXPECT_EQ(value, "untouched");
      EXPECT_TRUE(log_.Contains(c.expected)) << c.expected;
    }
  }
}

TEST_F(AuthTest, RequestsThatCannotBeMadeAreRefusedBeforeTheNetwork) {
  CAuth auth;
  EXPECT_FALSE(auth.Init("", "alice", "secret"));
  std::string passport;
  EXPECT_EQ(auth.Request(passport, "", ""), 0);
  EXPECT_TRUE(log_.Contains("[CAuth::Request]: Invalid user: "));

  ASSERT_TRUE(auth.Init("ftp://127.0.0.1:" + std::to_string(server_.Port()) + kPath, "alice", "secret"));
  EXPECT_EQ(auth.Request(passport, "", ""), 0);
  EXPECT_TRUE(log_.Contains("Invalid auth server: ftp://127.0.0.1:"));
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_EQ(auth.GetHttpCode(), 0);

  // An https address is tried like an http one (this server speaks no TLS).
  ASSERT_TRUE(auth.Init("https://127.0.0.1:" + std::to_string(server_.Port()) + kPath, "alice", "secret"));
  EXPECT_EQ(auth.Request(passport, "", ""), 0);
  EXPECT_FALSE(log_.Contains("Invalid auth server: https://"));
  EXPECT_TRUE(log_.Contains("Using endpoint : https://127.0.0.1:"));
  EXPECT_TRUE(log_.Contains("Fail to process http ack code: 0"));
}

TEST_F(AuthTest, AFailedExchangeLeavesNoServersOfTheLastSuccess) {
  server_.Push(AuthReply("result=OK; " + kServers));
  std::string passport;
  ASSERT_EQ(auth_.Request(passport, "", ""), 1);
  ScriptedReply broken;
  broken.status = 500;
  server_.Push(broken);
  EXPECT_EQ(auth_.Request(passport, "", ""), 0);
  EXPECT_EQ(auth_.GetHttpCode(), 500);
  std::string back = "x", transmitter = "x", heartbeat = "x";
  auth_.GetServers(back, transmitter, heartbeat);
  EXPECT_EQ(back + transmitter + heartbeat, "");
}

TEST_F(AuthTest, NoAnswerEndsAsCodeZeroAfterTheTimeOut) {
  ScriptedReply hang;
  hang.action = ScriptedReply::Action::kHang;
  server_.Push(hang);
  auth_.SetTimeout(300);
  std::string passport;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(auth_.Request(passport, "", ""), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(auth_.GetHttpCode(), 0);
  EXPECT_TRUE(log_.Contains("Fail to process http ack code: 0"));
}

TEST_F(AuthTest, AnHttpProxyCarriesTheExchangeAndNoProxyMeansDirect) {
  ScriptedServer proxy;
  const std::string address = "127.0.0.1:" + std::to_string(proxy.Port());
  CAuth viaProxy;
  ASSERT_TRUE(viaProxy.Init("http://auth.invalid/vorportal/LoginServlet", "alice", "secret"));
  viaProxy.SetProxy("HTTP", address, "puser", "ppass");
  proxy.Push(AuthReply("result=OK; " + kServers, true, /*digest=*/false));
  std::string passport;
  EXPECT_EQ(viaProxy.Request(passport, "", ""), 1);
  ASSERT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(proxy.Requests()[0].url, "http://auth.invalid/vorportal/LoginServlet");
  EXPECT_EQ(proxy.Requests()[0].Header("Proxy-Authorization"), "Basic cHVzZXI6cHBhc3M=");

  // With no proxy chosen, a proxy in the environment is not used.
  setenv("http_proxy", ("http://" + address).c_str(), 1);
  server_.Push(AuthReply("result=OK; " + kServers));
  EXPECT_EQ(auth_.Request(passport, "", ""), 1);
  unsetenv("http_proxy");
  EXPECT_EQ(proxy.RequestCount(), 1u);
}

}  // namespace
