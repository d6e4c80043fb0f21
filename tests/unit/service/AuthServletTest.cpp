// The authentication servlet and the version page, through the project's
// own CAuth and through an independent client (the curl program).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "service/DigestAuth.h"
#include "service/Identifiers.h"
#include "tests/unit/service/ServiceFixture.h"

namespace {

class AuthServletTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    AddUser("ann", "s3cret");
  }
};

// Runs a shell command; its standard output.
std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char buffer[4096];
  while (pipe && fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
}

TEST_F(AuthServletTest, RightPasswordGivesPassportAndEndpointsOnTheAddressUsed) {
  CAuth auth;
  ASSERT_TRUE(auth.Init(Url("/vorportal/LoginServlet"), "ann", "s3cret"));
  std::string passport, back, transmitter, heartbeat;
  ASSERT_EQ(auth.Request(passport, "", ""), 1);
  EXPECT_EQ(auth.GetHttpCode(), 200);
  EXPECT_EQ(passport.size(), 32u);
  auth.GetServers(back, transmitter, heartbeat);
  EXPECT_EQ(back, Url("/axis2/services/vor_service_bs"));
  EXPECT_EQ(transmitter, Url("/axis2/services/vor_service_trs"));
  EXPECT_EQ(heartbeat, Url("/axis2/services/vor_service_hb"));

  std::string second;
  ASSERT_EQ(auth.Request(second, "", ""), 1);
  EXPECT_NE(second, passport) << "every login gets its own passport";
}

TEST_F(AuthServletTest, WrongPasswordOrUnknownUserIs401) {
  for (const auto& [user, password] : {std::pair{"ann", "wrong"}, std::pair{"nobody", "s3cret"}}) {
    CAuth auth;
    auth.Init(Url("/vorportal/LoginServlet"), user, password);
    std::string passport;
    EXPECT_EQ(auth.Request(passport, "", ""), 0) << user;
    EXPECT_EQ(auth.GetHttpCode(), 401) << user;
    EXPECT_TRUE(passport.empty());
  }
  EXPECT_NE(ServiceLog().find("op=login user=ann result=wrong password"), std::string::npos) << ServiceLog();
}

TEST_F(AuthServletTest, CurlWithDigest) {
  const std::string url = Url("/vorportal/LoginServlet");
  const std::string right = Shell("curl -s -i --digest -u ann:s3cret '" + url + "'");
  EXPECT_NE(right.find("HTTP/1.1 200"), std::string::npos) << right;
  EXPECT_NE(right.find("Set-Cookie: ordanePassport="), std::string::npos) << right;
  EXPECT_NE(right.find("Set-Vessa: result=OK; back_server=" + Url("/axis2/services/vor_service_bs") +
                       "; trs_server=" + Url("/axis2/services/vor_service_trs") +
                       "; hb_server=" + Url("/axis2/services/vor_service_hb") + ";"),
            std::string::npos)
      << right;

  const std::string wrong = Shell("curl -s -o /dev/null -w '%{http_code}' --digest -u ann:nope '" + url + "'");
  EXPECT_EQ(wrong, "401");
  const std::string none = Shell("curl -s -o /dev/null -w '%{http_code}' '" + url + "'");
  EXPECT_EQ(none, "401");
}

// A Digest answer written out by hand (RFC 7616, MD5, qop=auth), so the
// test decides when each challenge is fetched and answered.
std::string LowerMd5(const std::string& text) { return Md5Lower(text.data(), text.size()); }

std::string AnswerHeader(const std::string& password, const std::string& nonce, const std::string& nc,
                         const std::string& uri = "/vorportal/LoginServlet") {
  const std::string ha1 = LowerMd5("ann:Vessa:" + password);
  const std::string response = LowerMd5(ha1 + ":" + nonce + ":" + nc + ":c0ffee:auth:" + LowerMd5("GET:" + uri));
  return "Authorization: Digest username=\"ann\", realm=\"Vessa\", nonce=\"" + nonce + "\", uri=\"" + uri +
         "\", algorithm=MD5, response=\"" + response + "\", opaque=\"vessa\", qop=auth, nc=" + nc +
         ", cnonce=\"c0ffee\"";
}

class HandWrittenDigest : public AuthServletTest {
 protected:
  // The nonce of a fresh challenge, and whether it says "stale=true".
  std::string Challenge(const std::string& header = "", bool* stale = nullptr) {
    const std::string head = Shell("curl -s -D - -o /dev/null " + (header.empty() ? "" : "-H '" + header + "' ") +
                                   "'" + Url("/vorportal/LoginServlet") + "'");
    if (stale) *stale = head.find("stale=true") != std::string::npos;
    const std::size_t at = head.find("nonce=\"");
    return at == std::string::npos ? "" : head.substr(at + 7, head.find('"', at + 7) - at - 7);
  }
  std::string Status(const std::string& header) {
    return Shell("curl -s -o /dev/null -w '%{http_code}' -H '" + header + "' '" + Url("/vorportal/LoginServlet") +
                 "'");
  }
};

// Two computers whose logins overlap: both fetch a challenge before either
// answers. Each gets a nonce of its own and both are let in.
TEST_F(HandWrittenDigest, OverlappingLoginsAreBothAccepted) {
  const std::string first = Challenge();
  const std::string second = Challenge();
  ASSERT_EQ(first.size(), 32u);
  EXPECT_NE(first, second);
  EXPECT_EQ(Status(AnswerHeader("s3cret", first, "00000001")), "200");
  EXPECT_EQ(Status(AnswerHeader("s3cret", second, "00000001")), "200");
}

TEST_F(HandWrittenDigest, ReplaysStaleNoncesAndForeignPagesAreRefused) {
  const std::string nonce = Challenge();
  ASSERT_EQ(Status(AnswerHeader("s3cret", nonce, "00000001")), "200");
  EXPECT_EQ(Status(AnswerHeader("s3cret", nonce, "00000001")), "401") << "the same answer again";
  EXPECT_EQ(Status(AnswerHeader("s3cret", nonce, "00000002")), "200") << "the next count of the nonce";
  EXPECT_EQ(Status(AnswerHeader("s3cret", nonce, "00000002")), "401");
  EXPECT_EQ(Status(AnswerHeader("s3cret", nonce, "00000003", "/axis2/services/vor_service_bs")), "401");

  bool stale = false;
  const std::string unknown(32, 'a');
  const std::string fresh = Challenge(AnswerHeader("s3cret", unknown, "00000001"), &stale);
  EXPECT_TRUE(stale) << "a nonce the service does not know asks for a new one without asking the user";
  EXPECT_EQ(Status(AnswerHeader("s3cret", fresh, "00000001")), "200");
  Challenge(AnswerHeader("wrong", fresh, "00000002"), &stale);
  EXPECT_FALSE(stale) << "a wrong password is no stale nonce";
  EXPECT_NE(ServiceLog().find("op=login user=ann result=replayed answer"), std::string::npos) << ServiceLog();
}

TEST(DigestNonces, ExpireAndOldestAreForgottenAtCapacity) {
  CDigestNonces expiring(std::chrono::seconds(0), 10);
  EXPECT_EQ(expiring.Accept(expiring.Issue(), 1), CDigestNonces::Use::kUnknown);

  CDigestNonces few(std::chrono::seconds(300), 2);
  const std::string oldest = few.Issue();
  const std::string middle = few.Issue();
  const std::string newest = few.Issue();
  EXPECT_EQ(few.Accept(oldest, 1), CDigestNonces::Use::kUnknown);
  EXPECT_EQ(few.Accept(middle, 1), CDigestNonces::Use::kAccepted);
  EXPECT_EQ(few.Accept(newest, 1), CDigestNonces::Use::kAccepted);
  EXPECT_EQ(few.Accept("never issued", 1), CDigestNonces::Use::kUnknown);
}

TEST(DigestAnswerParsing, FieldsAndMalformedHeaders) {
  DigestAnswer answer;
  ASSERT_TRUE(ParseDigestAnswer(
      "Digest username=\"a\\\"b\", realm=\"Vessa\", nonce=\"n1\", uri=\"/p?x=1,2\", response=\"R\", "
      "qop=auth, nc=0000000a, cnonce=\"c\"",
      answer));
  EXPECT_EQ(answer.username, "a\"b");
  EXPECT_EQ(answer.uri, "/p?x=1,2");
  EXPECT_EQ(answer.count, 10u);
  for (const char* header : {"Basic YW5uOnMzY3JldA==", "Digest", "Digest username=\"a",
                             "Digest username=\"a\", nonce=\"n\", uri=\"/\", response=\"r\", cnonce=\"c\", nc=1",
                             "Digest username=\"a\", nonce=\"n\", uri=\"/\", response=\"r\", cnonce=\"c\", nc=0000000g"}) {
    EXPECT_FALSE(ParseDigestAnswer(header, answer)) << header;
  }
}

TEST_F(AuthServletTest, VersionPageAndUnknownPages) {
  ServiceOptions options = Options();
  options.setupName = "VessaSetup999999.exe";
  Restart(options);
  EXPECT_EQ(Shell("curl -s '" + Url("/vorportal/clientVersion") + "'"), "VessaSetup999999.exe\n");
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' '" + Url("/nothing") + "'"), "404");
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' '" + Url("/axis2/services/vor_service_bs") + "'"), "405");
}

}  // namespace
