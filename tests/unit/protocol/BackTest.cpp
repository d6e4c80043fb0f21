#include "protocol/Back.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Util.h"
#include "platform/CodePage.h"
#include "tests/support/LogCapture.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

constexpr const char* kPath = "/axis2/services/vor_service_bs";
constexpr const char* kDigest = "5EBE2294ECD0E0F0";  // MD5("secret") = 5ebe2294ecd0e0f0...
const std::string kKeyA(32, 'a');
const std::string kKeyB(32, 'b');
const std::string kKeyC(32, 'c');

std::unique_ptr<CBack> MakeBack(const std::string& url, int timeoutMs = 10000) {
  auto back = std::make_unique<CBack>();
  back->SetCallTimeout(timeoutMs);
  EXPECT_EQ(back->Init(url, "alice", "secret", "HOST-7", ""), 1);
  back->SetCredentials("alice", "secret", "PASS-1");
  return back;
}

std::string Compressed(const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string packed(size, '\0');
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
                     text.size()),
            Z_OK);
  packed.resize(size);
  std::string base64;
  CUtil::Base64Encode(packed.data(), packed.size(), base64);
  return base64;
}

// Sets (or removes, given null) an environment value for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, hadOld_ = true;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { hadOld_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::string old_;
  bool hadOld_ = false;
};

class BackTest : public testing::Test {
 protected:
  void SetUp() override { back_ = MakeBack(server_.Url(kPath)); }
  void TearDown() override { platform::SetLocalCodePage(""); }

  CapturedPayload Sent(size_t index) {
    const std::vector<ReceivedRequest> requests = server_.Requests();
    if (requests.size() <= index) {
      ADD_FAILURE() << "no request " << index;
      return {};
    }
    return DecodeRequest(requests[index]);
  }
  // The body element of the last request.
  pugi::xml_node LastBody() {
    last_ = Sent(server_.RequestCount() - 1);
    return last_.payload.child("request_head").next_sibling();
  }
  void Reply(const std::string& operation, const std::string& body) { server_.Push(SoapReply(Answer(operation, body))); }

  LogCapture log_;
  ScriptedServer server_;
  std::unique_ptr<CBack> back_;
  CapturedPayload last_;
};

// ---------------------------------------------------------------------------
// Requests

TEST_F(BackTest, EveryOperationSendsTheHeadAndItsBodyAttributesInOrder) {
  struct Case {
    const char* operation;
    std::function<void(CBack&)> call;
    AttributeList body;
  };
  std::string text;
  CInfoAttrMap messages;
  std::vector<CFileInfo> all;
  CFileInfo one;
  CBack::FileMap map;
  const Case cases[] = {
      {"obtain_host_id", [&](CBack& b) { b.GetHostID("PC <1> & \"co\"", text); },
       {{"computer_name", "PC <1> & \"co\""}}},
      {"login", [&](CBack& b) { b.Login(text); }, {}},
      {"obtain_root_folder", [&](CBack& b) { b.GetServerRoot(text); }, {}},
      {"system_message", [&](CBack& b) { b.GetSystemMessage(messages); }, {}},
      {"download_all_file", [&](CBack& b) { b.DownloadAll(text, all); }, {}},
      {"download_specific_file", [&](CBack& b) { b.Download("R/docs/a&b.txt", text, one); },
       {{"file_name", "R/docs/a&b.txt"}}},
      {"file_list", [&](CBack& b) { b.GetList("R", text, map); },
       {{"folder_name", "R"}, {"recursive", "yes"}, {"show_delete", "no"}}},
      {"rename", [&](CBack& b) { b.Rename("R/a.txt", "77/b\tc\nd\r.txt", text); },
       {{"old_file_name", "R/a.txt"}, {"new_file_name", "77/b\tc\nd\r.txt"}}},
      {"remove", [&](CBack& b) { b.Remove("R/old", text); }, {{"file_name", "R/old"}, {"purge_flag", "no"}}},
  };
  int sequence = 0;
  for (const Case& c : cases) {
    Reply(c.operation, "");
    c.call(*back_);
    ++sequence;
    SCOPED_TRACE(c.operation);
    const ReceivedRequest raw = server_.Requests().back();
    EXPECT_EQ(raw.method, "POST");
    EXPECT_EQ(raw.url, kPath);
    EXPECT_EQ(raw.Header("Content-Type"), "application/soap+xml;charset=UTF-8");

    const CapturedPayload sent = DecodeRequest(raw);
    EXPECT_STREQ(sent.payload.name(), "operation");
    EXPECT_EQ(Attributes(sent.payload),
              (AttributeList{{"name", c.operation}, {"version", "version01"}, {"src", "windows"}}));
    const pugi::xml_node head = sent.payload.first_child();
    EXPECT_STREQ(head.name(), "request_head");
    EXPECT_EQ(Attributes(head), (AttributeList{{"user_name", "alice"},
                                               {"password", kDigest},
                                               {"passport", "PASS-1"},
                                               {"req_sequence", std::to_string(sequence)}}));
    EXPECT_STREQ(head.child_value("host_id"), "HOST-7");
    const pugi::xml_node body = head.next_sibling();
    EXPECT_STREQ(body.name(), c.operation);
    EXPECT_EQ(Attributes(body), c.body);
    EXPECT_FALSE(body.first_child());
    EXPECT_FALSE(body.next_sibling());
  }
  // Markup characters travel escaped: "&" exactly as CUtil::XmlText writes it.
  const std::vector<ReceivedRequest> raw = server_.Requests();
  EXPECT_NE(raw[0].body.find("computer_name=\"PC &lt;1&gt; &amp; &quot;co&quot;\""), std::string::npos);
  EXPECT_NE(raw[5].body.find("file_name=\"R/docs/a&amp;b.txt\""), std::string::npos);
}

TEST_F(BackTest, SequenceCountsEveryHeadAndRestartsAfterFreeAxis2c) {
  std::string result;
  for (int i = 0; i < 3; ++i) {
    Reply("login", "<login_rsp/>");
    EXPECT_EQ(back_->Login(result), 1);
  }
  EXPECT_EQ(back_->RequestSequence(), 3);
  back_->FreeAxis2c();
  EXPECT_EQ(back_->RequestSequence(), 0);
  EXPECT_EQ(back_->Login(result), 0) << "no connection after FreeAxis2c";
  ASSERT_EQ(back_->Init(server_.Url(kPath), "alice", "secret", "HOST-7", ""), 1);
  Reply("login", "<login_rsp/>");
  EXPECT_EQ(back_->Login(result), 1);

  const std::vector<ReceivedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 4u);
  const char* expected[] = {"1", "2", "3", "1"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_STREQ(DecodeRequest(requests[i]).payload.child("request_head").attribute("req_sequence").value(),
                 expected[i]);
  }
  // Init keeps the password as given until SetCredentials.
  EXPECT_STREQ(DecodeRequest(requests[3]).payload.child("request_head").attribute("password").value(), "secret");
}

TEST_F(BackTest, PasswordDigestIsSixteenUpperCaseDigitsAndEmptyForNoPassword) {
  EXPECT_EQ(CSoapFrame::PasswordDigest("secret"), kDigest);
  EXPECT_EQ(CSoapFrame::PasswordDigest(""), "");
  CUtil::SetDigestUpperCase(1);
  EXPECT_EQ(CSoapFrame::PasswordDigest("secret"), kDigest);
  CUtil::SetDigestUpperCase(0);
}

TEST_F(BackTest, RequestAndAnswerLogsHideThePasswordAndThePassport) {
  std::string result;
  server_.Push(SoapReply("<operation name=\"login\" version=\"version01\"><response_head result=\"OK\" "
                         "passport=\"PASS-1\"/><login_rsp/></operation>"));
  ASSERT_EQ(back_->Login(result), 1);
  EXPECT_TRUE(log_.Contains("[CBack::Login]: request:<operation name=\"login\" version=\"version01\" src=\"windows\">"
                            "<request_head user_name=\"alice\" password=\"***\" passport=\"***\" req_sequence=\"1\">"
                            "<host_id>HOST-7</host_id></request_head><login/></operation>"))
      << log_.Text();
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmHead]: reponse:<operation name=\"login\""));
  EXPECT_FALSE(log_.Contains(kDigest));
  EXPECT_FALSE(log_.Contains("PASS-1"));
}

// ---------------------------------------------------------------------------
// The answer head

TEST_F(BackTest, HeadChecksRefuseMalformedHeads) {
  struct Case {
    const char* what;
    std::string payload;
    const char* line;
  };
  const Case cases[] = {
      {"other version", "<operation version=\"version02\"><response_head result=\"OK\"/><login_rsp/></operation>",
       "Mismatched VER version02 with version01"},
      {"no version", "<operation><response_head result=\"OK\"/><login_rsp/></operation>",
       "Mismatched VER  with version01"},
      {"body is no operation element", "<answer version=\"version01\"><response_head result=\"OK\"/></answer>",
       "Mismatched element \"answer\" with \"operation\""},
      {"no head", "<operation version=\"version01\"/>", "Fail to get a node HEAD"},
      {"head of another name", "<operation version=\"version01\"><head result=\"OK\"/></operation>",
       "Mismatched element \"head\" with \"response_head\""},
      {"failure without reason", "<operation version=\"version01\"><response_head result=\"6\"/></operation>",
       "Fail to get a node child"},
      {"failure with another child",
       "<operation version=\"version01\"><response_head result=\"6\"><why>6</why></response_head></operation>",
       "Mismatched element \"why\" with \"reason\""},
  };
  for (const Case& c : cases) {
    server_.Push(SoapReply(c.payload));
    std::string result;
    EXPECT_EQ(back_->Login(result), 0) << c.what;
    EXPECT_TRUE(log_.Contains(c.line)) << c.what;
  }
  EXPECT_TRUE(log_.Contains("[CBack::Login]: Fail to parse the responsed head"));
}

TEST_F(BackTest, FailedHeadKeepsTheReasonUntilAnOkAnswer) {
  std::string text;
  server_.Push(SoapReply(Answer("obtain_host_id", "", "", "FAIL", "2")));
  EXPECT_EQ(back_->GetHostID("pc", text), 0);
  EXPECT_EQ(text, "FAIL");
  EXPECT_EQ(back_->GetReason(), "2");
  EXPECT_EQ(back_->GetLastReason(), "2");
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmHead]: Return FAIL for 2"));
  EXPECT_TRUE(log_.Contains("[CBack::GetHostID]: Get a ack (FAIL) with reason (2)"));

  back_->ClearReason();
  EXPECT_EQ(back_->GetReason(), "");
  EXPECT_EQ(back_->GetLastReason(), "2");

  server_.Push(SoapReply(Answer("obtain_root_folder", "", "", "ERR", "6")));
  EXPECT_EQ(back_->GetServerRoot(text), 0);
  EXPECT_TRUE(log_.Contains("[CBack::GetServerRoot]: get a ack (ERR) with reason (6)"));
  EXPECT_EQ(back_->GetReason(), "6");

  // A back-server answer needs no rsp_sequence, and a wrong one is not checked.
  server_.Push(SoapReply(Answer("obtain_host_id", "<obtain_host_id_rsp host_id=\"H-9\"/>", " rsp_sequence=\"99\"")));
  EXPECT_EQ(back_->GetHostID("pc", text), 1);
  EXPECT_EQ(text, "H-9");
  EXPECT_EQ(back_->GetReason(), "");
  EXPECT_EQ(back_->GetLastReason(), "");
}

// ---------------------------------------------------------------------------
// No answer at all

TEST_F(BackTest, EveryKindOfMissingAnswerFailsWithTheEngineLineAsReason) {
  struct Case {
    const char* what;
    ScriptedReply reply;
    const char* line;
  };
  ScriptedReply fault = SoapReply(
      "<soapenv:Fault><soapenv:Code><soapenv:Value>soapenv:Sender</soapenv:Value></soapenv:Code><soapenv:Reason>"
      "<soapenv:Text>bad request</soapenv:Text></soapenv:Reason></soapenv:Fault>");
  ScriptedReply fault500 = fault;
  fault500.status = 500;
  const Case cases[] = {
      {"HTTP 500", Status(500, "oops"), "Error code: 2(HTTP status 500)"},
      {"HTTP 500 with a fault", fault500, "Error code: 2(HTTP status 500, SOAP Fault soapenv:Sender: bad request)"},
      {"HTTP 404", Status(404), "Error code: 2(HTTP status 404)"},
      {"SOAP Fault", fault, "Error code: 3(SOAP Fault soapenv:Sender: bad request)"},
      {"malformed XML", SoapReply("<operation version=\"version01\">"), "Error code: 4(malformed XML answer"},
      {"no envelope", Status(200, "<operation/>", "application/soap+xml"), "Error code: 4(answer is not a SOAP"},
      // libcurl retries once when a reused connection closes without an answer.
      {"dropped connection", Action(ScriptedReply::Action::kDrop), "Error code: 1(Empty reply from server)"},
  };
  server_.SetFallback(Action(ScriptedReply::Action::kDrop));
  for (const Case& c : cases) {
    server_.Push(c.reply);
    std::string result = "unchanged";
    EXPECT_EQ(back_->Login(result), 0) << c.what;
    EXPECT_EQ(result, "unchanged") << c.what;
    const std::string prefix = "Fail to get a reponse, stub invoke FAILED: ";
    EXPECT_EQ(back_->GetReason().rfind(prefix, 0), 0u) << c.what << ": " << back_->GetReason();
    EXPECT_NE(back_->GetReason().find(c.line), std::string::npos) << c.what << ": " << back_->GetReason();
    EXPECT_TRUE(log_.Contains("[CBack::ParseOmHead]: " + back_->GetReason())) << c.what;
    EXPECT_EQ(back_->GetLastReason(), "") << c.what;
  }
}

TEST_F(BackTest, AServerThatNeverAnswersEndsInTheCallTimeOut) {
  server_.Push(Action(ScriptedReply::Action::kHang));
  const std::unique_ptr<CBack> quick = MakeBack(server_.Url(kPath), 300);
  std::string result;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(quick->Login(result), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(quick->GetReason().find("Error code: 1(Operation timed out after"), std::string::npos)
      << quick->GetReason();
}

TEST_F(BackTest, ARefusedConnectionFailsAtOnce) {
  std::string url;
  {
    ScriptedServer gone;
    url = gone.Url(kPath);
  }
  const std::unique_ptr<CBack> orphan = MakeBack(url);
  std::string result;
  EXPECT_EQ(orphan->Login(result), 0);
  EXPECT_NE(orphan->GetReason().find("Error code: 1(Failed to connect to 127.0.0.1 port"), std::string::npos)
      << orphan->GetReason();
}

// ---------------------------------------------------------------------------
// Proxies: every accepted mode is an HTTP proxy for the SOAP clients

TEST_F(BackTest, ProxyModesSendTheCallThroughTheProxy) {
  ScriptedServer proxy;
  const std::string endpoint = "http://vessa-service.invalid:8080/axis2/services/vor_service_bs";
  const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port());
  struct Case {
    const char* mode;
    const char* user;
    const char* environment;  // http_proxy
    bool viaProxy;
    const char* authorization;
  };
  const std::string environmentProxy = "http://" + proxyAddress;
  const Case cases[] = {
      {"HTTP", "puser", nullptr, true, "Basic cHVzZXI6cHBhc3M="},  // puser:ppass
      {"SOCKS5", "", nullptr, true, ""},
      {"浏览器设置", "", environmentProxy.c_str(), true, ""},
      {"", "", environmentProxy.c_str(), false, ""},
      {"浏览器设置", "", nullptr, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mode ") + c.mode);
    ScopedEnv env("http_proxy", c.environment);
    CBack client;
    client.SetCallTimeout(3000);
    client.SetProxy(c.mode, proxyAddress, c.user, c.user[0] ? "ppass" : "");
    ASSERT_EQ(client.Init(c.viaProxy ? endpoint : server_.Url(kPath), "alice", "secret", "HOST-7", ""), 1);
    const size_t before = proxy.RequestCount();
    (c.viaProxy ? proxy : server_).Push(SoapReply(Answer("login", "<login_rsp/>")));
    std::string result;
    EXPECT_EQ(client.Login(result), 1);
    EXPECT_EQ(proxy.RequestCount(), before + (c.viaProxy ? 1 : 0));
    if (c.viaProxy) {
      const ReceivedRequest seen = proxy.Requests().back();
      EXPECT_EQ(seen.url, endpoint);
      EXPECT_EQ(seen.Header("Proxy-Authorization"), c.authorization);
    }
  }
}

// ---------------------------------------------------------------------------
// Account operations

TEST_F(BackTest, AccountAnswersFillTheirOutputs) {
  std::string text;
  Reply("obtain_host_id", "<obtain_host_id_rsp host_id=\"H-42\"/>");
  EXPECT_EQ(back_->GetHostID("pc", text), 1);
  EXPECT_EQ(text, "H-42");

  Reply("obtain_root_folder", "<obtain_root_folder_rsp root_folder=\"alice_root\"/>");
  EXPECT_EQ(back_->GetServerRoot(text), 1);
  EXPECT_EQ(text, "alice_root");

  // The head's "OK" logs the user in even when the body has another name.
  Reply("login", "<welcome/>");
  EXPECT_EQ(back_->Login(text), 1);
  EXPECT_EQ(text, "OK");
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmLogin]: Fail to get a element"));
}

// An "OK" head whose body cannot be read must not hand out "OK" as a host
// id or a root folder name.
TEST_F(BackTest, AccountValuesFromAnUnreadableBodyAreFailures) {
  std::string text;
  Reply("obtain_host_id", "<host_rsp host_id=\"H-42\"/>");
  EXPECT_EQ(back_->GetHostID("pc", text), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmGetHostID]: Fail to get a element"));
  Reply("obtain_root_folder", "");
  EXPECT_EQ(back_->GetServerRoot(text), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmGetServerRoot]: Fail to get a body node"));
}

TEST_F(BackTest, SystemMessagesKeepTheFirstOfAnIdAndStopAtAForeignChild) {
  CInfoAttrMap messages;
  messages.emplace(9, CInfoAttr{9, 1, 1, 1, "old"});
  Reply("system_message",
        "<system_message_rsp><message id=\"3\" type=\"2\" create_time=\"1000\" expire_time=\"2000\" info=\"hello &amp; "
        "bye\"/><message id=\"3\" type=\"5\" info=\"second\"/><message id=\"9\" info=\"new\"/><message id=\"4\"/>"
        "</system_message_rsp>");
  ASSERT_EQ(back_->GetSystemMessage(messages), 1);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[3].type, 2);
  EXPECT_EQ(messages[3].createTime, 1000);
  EXPECT_EQ(messages[3].expireTime, 2000);
  EXPECT_EQ(messages[3].info, "hello & bye");
  EXPECT_EQ(messages[9].info, "old");
  EXPECT_EQ(messages[4].type, 0);
  EXPECT_EQ(messages[4].info, "");

  Reply("system_message", "<system_message_rsp/>");
  EXPECT_EQ(back_->GetSystemMessage(messages), 1);
  EXPECT_EQ(messages.size(), 3u);

  Reply("system_message", "<system_message_rsp><message id=\"5\"/><notice id=\"6\"/><message id=\"7\"/>"
                          "</system_message_rsp>");
  EXPECT_EQ(back_->GetSystemMessage(messages), 0);
  EXPECT_TRUE(messages.count(5));
  EXPECT_FALSE(messages.count(7));
  EXPECT_TRUE(log_.Contains("Mismatched element \"notice\" with \"message\""));
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmSystemMessage]: Fail to get a node"));

  Reply("system_message", "<system_message_rsp><message id=\"x1\"/></system_message_rsp>");
  EXPECT_EQ(back_->GetSystemMessage(messages), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmSystemMessage]: Invalid number {x1} in attribute id"));
}

// ---------------------------------------------------------------------------
// Listings

const char* const kListing =
    "<file file_name=\"R/Docs/Report.TXT\" modify_time=\"129000000000000001\" dir_flag=\"no\" file_size=\"5000000\">"
    "<chunk_list chunk_num=\"2\">aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa,bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb</chunk_list></file>"
    "<file file_name=\"R/Docs\" modify_time=\"5\" dir_flag=\"yes\" shared=\"no\"/>"
    "<file file_name=\"R/Team\" modify_time=\"6\" dir_flag=\"yes\" shared=\"yes\" folder_id=\"17\" owner_name=\"bob\"/>"
    "<file file_name=\"\" modify_time=\"1\" dir_flag=\"no\"/>"
    "<file file_name=\"R/empty.txt\" modify_time=\"7\" dir_flag=\"no\" file_size=\"0\"><chunk_list chunk_num=\"0\"/>"
    "</file>"
    "<file file_name=\"R/odd\" modify_time=\"8\" dir_flag=\"maybe\"/>";

void ExpectListing(CBack::FileMap& files) {
  ASSERT_EQ(files.size(), 5u);
  const CFileInfo& report = files.at("r/docs/report.txt");
  EXPECT_EQ(report.path, "R/Docs/Report.TXT");
  EXPECT_EQ(report.dir, 0);
  EXPECT_EQ(report.size, 5000000);
  EXPECT_EQ(report.mtime, 129000000000000001LL);
  EXPECT_EQ(report.chunkCount, 2);
  ASSERT_EQ(report.chunks.size(), 2u);
  EXPECT_EQ(report.chunks[1].key, kKeyB);
  EXPECT_EQ(files.at("r/docs").dir, 1);
  EXPECT_EQ(files.at("r/team").dir, 17);
  EXPECT_EQ(files.at("r/team").owner, "bob");
  EXPECT_EQ(files.at("r/empty.txt").chunks.size(), 0u);
  EXPECT_EQ(files.at("r/odd").dir, 0);
  EXPECT_EQ(files.at("r/odd").size, 0);
}

TEST_F(BackTest, PlainAndCompressedListingsGiveTheSameEntries) {
  std::string result;
  CBack::FileMap plain;
  Reply("file_list", std::string("<file_list_rsp compress=\"0\">") + kListing + "</file_list_rsp>");
  ASSERT_EQ(back_->GetList("R", result, plain), 1);
  ExpectListing(plain);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmGetList]: file name is NULL!"));

  const std::string text = kListing;
  CBack::FileMap compressed;
  Reply("file_list", "<file_list_rsp compress=\"" + std::to_string(text.size()) + "\">" + Compressed(text) +
                         "</file_list_rsp>");
  ASSERT_EQ(back_->GetList("R", result, compressed), 1);
  ExpectListing(compressed);

  // Without the attribute the form is plain; keys already present stay.
  CBack::FileMap kept;
  kept["r/docs"] = CFileInfo("R/Docs", 1, 0);
  kept["r/docs"].owner = "earlier";
  Reply("file_list", std::string("<file_list_rsp>") + kListing + "</file_list_rsp>");
  ASSERT_EQ(back_->GetList("R", result, kept), 1);
  EXPECT_EQ(kept.at("r/docs").owner, "earlier");
  EXPECT_EQ(kept.size(), 5u);
}

TEST_F(BackTest, BadListingsFailWithTheirLine) {
  const std::string small = "<file file_name=\"R/a\" modify_time=\"1\" dir_flag=\"yes\"/>";
  const std::string big = std::string(200, ' ') + small;
  struct Case {
    const char* what;
    std::string body;
    std::string line;
  };
  const Case cases[] = {
      {"announced shorter than it inflates",
       "<file_list_rsp compress=\"10\">" + Compressed(big) + "</file_list_rsp>",
       "[CUtil::UnCompress]:  UnCompress string fail, error code :-5"},
      {"inflates a little longer than announced",
       "<file_list_rsp compress=\"" + std::to_string(big.size() - 2) + "\">" + Compressed(big) + "</file_list_rsp>",
       "Decompressed listing of " + std::to_string(big.size()) + " bytes is longer than the announced " +
           std::to_string(big.size() - 2)},
      {"does not inflate", "<file_list_rsp compress=\"100\">bm90IHpsaWIgZGF0YQ==</file_list_rsp>",
       " UnCompress string fail, error code :-3"},
      {"announced above 256 MiB", "<file_list_rsp compress=\"268435457\">eJwDAAAAAAE=</file_list_rsp>",
       "Refused a listing announced as 268435457 bytes (limit 268435456)"},
      {"inflates to no XML", "<file_list_rsp compress=\"7\">" + Compressed("<file a") + "</file_list_rsp>",
       "Fail to parse the decompressed listing"},
      {"non-numeric compress", "<file_list_rsp compress=\"yes\"/>", "Invalid number {yes} in attribute compress"},
      {"file without chunk list",
       "<file_list_rsp><file file_name=\"R/x\" modify_time=\"1\" dir_flag=\"no\" file_size=\"3\"/></file_list_rsp>",
       "[CBack::ParseOmGetList]: Fail to get a node FILECHUNKNUM"},
      {"chunk list of another name",
       "<file_list_rsp><file file_name=\"R/x\" modify_time=\"1\" dir_flag=\"no\"><chunks/></file></file_list_rsp>",
       "Fail to get a element CHUNKLIST"},
      {"non-numeric size",
       "<file_list_rsp><file file_name=\"R/x\" modify_time=\"1\" dir_flag=\"no\" file_size=\"12x\"><chunk_list "
       "chunk_num=\"0\"/></file></file_list_rsp>",
       "Invalid number {12x} in attribute file_size"},
      {"non-numeric time", "<file_list_rsp><file file_name=\"R/x\" modify_time=\"soon\" dir_flag=\"yes\"/></file_list_rsp>",
       "Invalid number {soon} in attribute modify_time"},
      {"malformed chunk list",
       "<file_list_rsp><file file_name=\"R/x\" modify_time=\"1\" dir_flag=\"no\" file_size=\"3\"><chunk_list "
       "chunk_num=\"2\">" + kKeyA + "</chunk_list></file></file_list_rsp>",
       "Malformed chunk list {" + std::string(32, 'a') + "} (chunk_num 2) of R/x"},
      {"entry of another name", "<file_list_rsp><folder file_name=\"R/x\"/></file_list_rsp>",
       "[CBack::ParseOmGetList]: Fail to get a node"},
      {"body of another name", "<file_lists_rsp/>", "Mismatched element \"file_lists_rsp\" with \"file_list_rsp\""},
      {"no body", "", "[CBack::ParseOmGetList]: Fail to get a body node"},
  };
  for (const Case& c : cases) {
    Reply("file_list", c.body);
    std::string result;
    CBack::FileMap files;
    EXPECT_EQ(back_->GetList("R", result, files), 0) << c.what;
    EXPECT_TRUE(log_.Contains(c.line)) << c.what;
  }
}

TEST_F(BackTest, DownloadAllReadsEntriesInOrderAndFailsOnAShortChunkList) {
  const std::string twoChunks =
      "<file file_name=\"R/a.bin\" modify_time=\"11\" dir=\"no\"><file_size>4194305</file_size><chunk_num>2"
      "</chunk_num><chunk MD5=\"" + kKeyA + "\" storage_key=\"S1\" chunk_size=\"4194304\"/><chunk MD5=\"" + kKeyB +
      "\" storage_key=\"S2\" chunk_size=\"1\"/></file>";
  const std::string folders = "<file file_name=\"R\" modify_time=\"1\" dir=\"yes\"/><file file_name=\"R/T\" "
                              "modify_time=\"2\" dir=\"yes\" shared=\"yes\" folder_id=\"77\" owner_name=\"bob\"/>";
  std::string result;
  std::vector<CFileInfo> files(3);
  Reply("download_all_file", "<download_all_file_rsp><files>" + folders + twoChunks + "</files></download_all_file_rsp>");
  ASSERT_EQ(back_->DownloadAll(result, files), 1);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].path, "R");
  EXPECT_EQ(files[0].dir, 1);
  EXPECT_EQ(files[1].dir, 77);
  EXPECT_EQ(files[1].owner, "bob");
  EXPECT_EQ(files[2].size, 4194305);
  EXPECT_EQ(files[2].mtime, 11);
  EXPECT_EQ(files[2].chunkList, kKeyA + "," + kKeyB);
  EXPECT_EQ(files[2].chunkCount, 2);
  EXPECT_EQ(files[2].chunks[0].storageId, "S1");
  EXPECT_EQ(files[2].chunks[0].size, 4194304);
  EXPECT_EQ(files[2].chunks[1].size, 1);

  const std::string shortList = "<file file_name=\"R/b\" modify_time=\"1\" dir=\"no\"><file_size>5</file_size>"
                                "<chunk_num>2</chunk_num><chunk MD5=\"" + kKeyC + "\" storage_key=\"S\" "
                                "chunk_size=\"5\"/></file>";
  Reply("download_all_file", "<download_all_file_rsp><files>" + folders + shortList + "</files></download_all_file_rsp>");
  EXPECT_EQ(back_->DownloadAll(result, files), 0) << "a listing cut short is no whole account";
  EXPECT_EQ(files.size(), 2u);
  EXPECT_TRUE(log_.Contains("Fail to get a element {chunk} of node NULL"));
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmDownloadAll]: Fail to get a element"));

  Reply("download_all_file", "<download_all_file_rsp><files><file file_name=\"R/c\" modify_time=\"1\" dir=\"no\"/>"
                             "</files></download_all_file_rsp>");
  EXPECT_EQ(back_->DownloadAll(result, files), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmDownloadAll]: Fail to get a node FILESIZE"));
  Reply("download_all_file", "<download_all_file_rsp/>");
  EXPECT_EQ(back_->DownloadAll(result, files), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmDownloadAll]: Fail to get a node child"));
}

TEST_F(BackTest, DownloadDescribesOneFileWithTheChunksItLists) {
  std::string result;
  CFileInfo file;
  file.dir = 0;
  Reply("download_specific_file",
        "<download_specific_file_rsp file_name=\"R/x.txt\" modify_time=\"99\" file_size=\"12\" chunk_num=\"5\"><chunk "
        "MD5=\"" + kKeyA + "\" storage_key=\"K1\" chunk_size=\"12\"/></download_specific_file_rsp>");
  ASSERT_EQ(back_->Download("R/x.txt", result, file), 1);
  EXPECT_EQ(file.path, "R/x.txt");
  EXPECT_EQ(file.mtime, 99);
  EXPECT_EQ(file.size, 12);
  EXPECT_EQ(file.chunkCount, 1) << "the chunks listed count";
  EXPECT_EQ(file.chunkList, kKeyA);
  EXPECT_EQ(file.chunks[0].storageId, "K1");

  Reply("download_specific_file", "<download_specific_file_rsp file_name=\"R/x.txt\"><blob/></download_specific_file_rsp>");
  CFileInfo other;
  EXPECT_EQ(back_->Download("R/x.txt", result, other), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmDownload]: Fail to get a element"));
}

TEST_F(BackTest, ReceivedNamesComeBackInTheLocalCodePage) {
  platform::SetLocalCodePage("GBK");
  const std::string gbkName = "R/\xD6\xD0\xCE\xC4.txt";  // R/中文.txt in GBK
  std::string result;
  CFileInfo file;
  // The service may write the characters as references or as UTF-8.
  Reply("download_specific_file", "<download_specific_file_rsp file_name=\"R/&amp;#x4E2D;&#x6587;.txt\"/>");
  ASSERT_EQ(back_->Download(gbkName, result, file), 1);
  EXPECT_EQ(file.path, gbkName);
  EXPECT_NE(server_.Requests().back().body.find("file_name=\"R/\xE4\xB8\xAD\xE6\x96\x87.txt\""), std::string::npos)
      << "requests carry UTF-8";
}

// ---------------------------------------------------------------------------
// File changes

TEST_F(BackTest, UploadAnnouncesNewAndChangedFilesWithTheirChunks) {
  CFileInfo empty("R/new.txt", 0, 0);
  empty.mtime = 1234;
  CFileInfo folder("R/dir", 1, 0);
  CFileInfo changed("R/c.bin", 0, 4194400);
  changed.mtime = 130000000000000000LL;
  changed.AddChunk(kKeyA, 4194304, "", "", 0);
  changed.AddChunk(kKeyB, 96, "", "", 0);
  CFileInfo old("R/c.bin", 0, 5);
  old.chunkList = kKeyA + "," + kKeyB + "," + kKeyC;  // count from the list
  old.chunks = {CChunkInfo{kKeyA, "", 100, 0, "", ""}, CChunkInfo{kKeyB, "", 200, 0, "", ""},
                CChunkInfo{kKeyC, "", 300, 0, "", ""}};
  struct Case {
    const CFileInfo* file;
    const CFileInfo* old;
    AttributeList attributes;
    std::vector<std::string> children;  // "name MD5 chunk_size [block_num]"
  };
  const Case cases[] = {
      {&empty, nullptr,
       {{"file_name", "R/new.txt"}, {"dir_flag", "no"}, {"file_size", "0"}, {"modify_time", "1234"},
        {"new_chunk_num", "0"}, {"new_file_flag", "yes"}, {"old_chunk_num", "0"}},
       {}},
      {&folder, nullptr,
       {{"file_name", "R/dir"}, {"dir_flag", "yes"}, {"file_size", "0"}, {"modify_time", "0"},
        {"new_chunk_num", "0"}, {"new_file_flag", "yes"}, {"old_chunk_num", "0"}},
       {}},
      {&changed, &old,
       {{"file_name", "R/c.bin"}, {"dir_flag", "no"}, {"file_size", "4194400"}, {"modify_time", "130000000000000000"},
        {"new_chunk_num", "2"}, {"new_file_flag", "no"}, {"old_chunk_num", "3"}},
       {"old_chunk " + kKeyA + " 100", "old_chunk " + kKeyB + " 200", "old_chunk " + kKeyC + " 300",
        "new_chunk " + kKeyA + " 4194304 0", "new_chunk " + kKeyB + " 96 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file->path);
    Reply("upload_file", "<upload_file_rsp file_name=\"" + c.file->path + "\"><next_op op=\"all_chunk_exist\"/>"
                         "</upload_file_rsp>");
    std::string nextOp;
    CChunkInfo chunk;
    chunk.key = "untouched";
    EXPECT_EQ(back_->Upload(*c.file, c.old, nextOp, chunk), 1);
    EXPECT_EQ(nextOp, "all_chunk_exist");
    EXPECT_EQ(chunk.key, "untouched");
    const pugi::xml_node body = LastBody();
    EXPECT_STREQ(body.name(), "upload_file");
    EXPECT_EQ(Attributes(body), c.attributes);
    std::vector<std::string> children;
    for (pugi::xml_node child : body.children()) {
      std::string text = std::string(child.name()) + " " + child.attribute("MD5").value() + " " +
                         child.attribute("chunk_size").value();
      if (child.attribute("block_num")) text += std::string(" ") + child.attribute("block_num").value();
      children.push_back(text);
    }
    EXPECT_EQ(children, c.children);
  }
}

TEST_F(BackTest, UploadAnswersNameTheNextStep) {
  const CFileInfo file("R/a.txt", 0, 3);
  std::string nextOp;
  CChunkInfo chunk;
  Reply("upload_file", "<upload_file_rsp file_name=\"R/a.txt\"><next_op op=\"upload_chunk\"><MD5>" + kKeyA +
                           "</MD5><storage_key>ST-1</storage_key></next_op></upload_file_rsp>");
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 1);
  EXPECT_EQ(nextOp, "upload_chunk");
  EXPECT_EQ(chunk.key, kKeyA);
  EXPECT_EQ(chunk.storageId, "ST-1");

  Reply("upload_file", "<upload_file_rsp file_name=\"R/a.txt\"><next_op op=\"move_conflic_file\"/></upload_file_rsp>");
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 1);
  EXPECT_EQ(nextOp, "move_conflic_file");
  EXPECT_TRUE(log_.Contains("<warn >[CBack::ParseOmUpload]: !!!Get ack: move_conflic_file"));

  Reply("upload_file", "<upload_file_rsp file_name=\"R/b.txt\"><next_op op=\"all_chunk_exist\"/></upload_file_rsp>");
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 0);
  EXPECT_TRUE(log_.Contains("[CBack::Upload]: mismached upload file {R/a.txt} with {R/b.txt}"));

  // A next step that cannot be read is no success (it would pass for "done").
  Reply("upload_file", "<upload_file_rsp file_name=\"R/a.txt\"/>");
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 0);
  Reply("upload_file", "<upload_file_rsp file_name=\"R/a.txt\"><next_op op=\"upload_chunk\"><MD5>" + kKeyA +
                           "</MD5></next_op></upload_file_rsp>");
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 0);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmUpload]: Fail to get a body node"));

  server_.Push(SoapReply(Answer("upload_file", "", "", "25", "25")));
  EXPECT_EQ(back_->Upload(file, nullptr, nextOp, chunk), 0);
  EXPECT_EQ(nextOp, "25");
  EXPECT_TRUE(log_.Contains("<info >[CBack::Upload]: get a ack (25) with reason (25)"));
}

TEST_F(BackTest, ChunkDoneReportsTheStoredChunkAndReadsTheNextStep) {
  CFileInfo file("R/a.txt", 0, 8);
  file.chunkList = kKeyA + "," + kKeyB;
  file.chunkCount = 2;
  const CChunkInfo stored{kKeyA, "ST-1", 4, 0, "", ""};
  std::string nextOp;
  CChunkInfo next;
  Reply("chunk_uploaded", "<chunk_uploaded_rsp file_name=\"R/a.txt\"><next_op op=\"remove_chunk\"><MD5>" + kKeyC +
                              "</MD5><storage_key>ST-9</storage_key></next_op></chunk_uploaded_rsp>");
  EXPECT_EQ(back_->ChunkDone(file, stored, nextOp, next), 1);
  EXPECT_EQ(nextOp, "remove_chunk");
  EXPECT_EQ(next.key, kKeyC);
  EXPECT_EQ(next.storageId, "ST-9");
  const pugi::xml_node body = LastBody();
  EXPECT_STREQ(body.name(), "chunk_uploaded");
  EXPECT_EQ(Attributes(body), (AttributeList{{"MD5", kKeyA}, {"storage_key", "ST-1"}, {"file_name", "R/a.txt"}}));
  EXPECT_EQ(Attributes(body.child("chunk_list")), (AttributeList{{"chunk_num", "2"}}));
  EXPECT_EQ(std::string(body.child_value("chunk_list")), kKeyA + "," + kKeyB);

  Reply("chunk_uploaded", "<chunk_uploaded_rsp file_name=\"R/a.txt\"><next_op op=\"done\"/></chunk_uploaded_rsp>");
  EXPECT_EQ(back_->ChunkDone(file, stored, nextOp, next), 1);
  EXPECT_EQ(nextOp, "done");

  Reply("chunk_uploaded", "<chunk_uploaded_rsp file_name=\"R/other\"><next_op op=\"done\"/></chunk_uploaded_rsp>");
  EXPECT_EQ(back_->ChunkDone(file, stored, nextOp, next), 0);
  EXPECT_TRUE(log_.Contains("<info >[CBack::ChunkDone]: Mismached upload file {R/other} with {R/a.txt}"));

  Reply("chunk_uploaded", "<chunk_uploaded_rsp file_name=\"R/a.txt\"/>");
  EXPECT_EQ(back_->ChunkDone(file, stored, nextOp, next), 0);
  EXPECT_TRUE(log_.Contains("Fail to get a element {next_op} of node NULL"));

  server_.Push(SoapReply(Answer("chunk_uploaded", "", "", "9", "9")));
  EXPECT_EQ(back_->ChunkDone(file, stored, nextOp, next), 0);
  EXPECT_TRUE(log_.Contains("<error>[CBack::ChunkDone]: Get a ack (9) with reason (9)"));
}

TEST_F(BackTest, RenameAndRemoveSucceedOnAnOkHead) {
  std::string result;
  Reply("rename", "<rename_rsp/>");
  EXPECT_EQ(back_->Rename("R/a", "R/b", result), 1);
  Reply("remove", "<gone/>");
  EXPECT_EQ(back_->Remove("R/a", result), 1);
  EXPECT_TRUE(log_.Contains("[CBack::ParseOmRemove]: Fail to get a element"));
  server_.Push(SoapReply(Answer("remove", "", "", "7", "7")));
  EXPECT_EQ(back_->Remove("R/a", result), 0);
  EXPECT_EQ(result, "7");
  EXPECT_EQ(back_->GetLastReason(), "7");
}

}  // namespace
