// The authentication servlet and the version page, through the project's
// own CAuth and through an independent client (the curl program).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

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

TEST_F(AuthServletTest, VersionPageAndUnknownPages) {
  ServiceOptions options = Options();
  options.setupName = "VessaSetup999999.exe";
  Restart(options);
  EXPECT_EQ(Shell("curl -s '" + Url("/vorportal/clientVersion") + "'"), "VessaSetup999999.exe\n");
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' '" + Url("/nothing") + "'"), "404");
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' '" + Url("/axis2/services/vor_service_bs") + "'"), "405");
}

}  // namespace
