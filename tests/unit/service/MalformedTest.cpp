// Requests no client of ours would send: each is refused with reason 9 in
// a well-formed answer, and the service goes on serving.
#include <gtest/gtest.h>

#include "protocol/HttpTransport.h"
#include "protocol/SoapFrame.h"
#include "tests/unit/service/ServiceFixture.h"

namespace {

class ServiceMalformedTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    AddUser("ann", "s3cret");
    ann_ = Connect("ann", "s3cret");
  }

  // A request payload with ann's valid head.
  std::string Operation(const std::string& name, const std::string& body, const std::string& version = "version01") {
    return "<operation name=\"" + name + "\" version=\"" + version + "\"><request_head user_name=\"ann\" password=\"" +
           CSoapFrame::PasswordDigest("s3cret") + "\" passport=\"" + ann_->passport +
           "\" req_sequence=\"41\"><host_id>" + ann_->hostId + "</host_id></request_head>" + body + "</operation>";
  }

  HttpReply Post(const std::string& path, const std::string& body, const std::string& type = kSoapContentType) {
    CHttpTransport transport;
    std::string error;
    EXPECT_TRUE(transport.Open(error)) << error;
    transport.SetTimeout(30000);
    HttpReply reply;
    EXPECT_EQ(transport.Post(Url(path), type, body, reply, error), 0) << error;
    return reply;
  }

  struct Verdict {
    std::string result;
    std::string reason;
    std::string sequence;
  };
  static Verdict Read(HttpReply reply) {
    CSoapAnswer answer;
    std::string error;
    EXPECT_EQ(reply.status, 200);
    if (!answer.Decode(std::move(reply.body), reply.contentType, error)) return {"undecodable: " + error, "", ""};
    const pugi::xml_node head = answer.Payload().child("response_head");
    return {head.attribute("result").value(), head.child_value("reason"), head.attribute("rsp_sequence").value()};
  }

  std::unique_ptr<ServiceClient> ann_;
};

constexpr const char* kBack = "/axis2/services/vor_service_bs";
constexpr const char* kTransmitter = "/axis2/services/vor_service_trs";

std::string Envelope(const std::string& payload) {
  return EncodeRequest(payload, {}).body;
}

TEST_F(ServiceMalformedTest, RefusedWithReason9) {
  const std::string key = "0123456789abcdef0123456789ABCDEF";
  // A chunk the service waits for, to send it without its content.
  const ClientFile pending = DescribeFile("ann/pending", "awaited");
  std::string op;
  CChunkInfo awaited;
  ASSERT_EQ(ann_->back.Upload(pending.info, nullptr, op, awaited), 1);
  ASSERT_EQ(op, "upload_chunk");
  struct Case {
    const char* name;
    const char* path;
    std::string body;
    std::string type = kSoapContentType;
  };
  const std::vector<Case> cases = {
      {"no XML", kBack, "garbage"},
      {"no envelope", kBack, Operation("login", "<login/>")},
      {"payload is no operation", kBack, Envelope("<login/>")},
      {"other version", kBack, Envelope(Operation("login", "<login/>", "version02"))},
      {"unknown operation", kBack, Envelope(Operation("format_disk", "<format_disk/>"))},
      {"body of another operation", kBack, Envelope(Operation("login", "<logout/>"))},
      {"no head", kBack, Envelope("<operation name=\"login\" version=\"version01\"><login/></operation>")},
      {"sizes that do not add up", kBack,
       Envelope(Operation("upload_file",
                          "<upload_file file_name=\"ann/a\" dir_flag=\"no\" file_size=\"10\" modify_time=\"1\" "
                          "new_chunk_num=\"1\" new_file_flag=\"yes\" old_chunk_num=\"0\"><new_chunk MD5=\"" +
                              key + "\" chunk_size=\"9\" block_num=\"0\"/></upload_file>"))},
      {"chunk count that does not match", kBack,
       Envelope(Operation("upload_file",
                          "<upload_file file_name=\"ann/a\" dir_flag=\"no\" file_size=\"9\" modify_time=\"1\" "
                          "new_chunk_num=\"2\" new_file_flag=\"yes\" old_chunk_num=\"0\"><new_chunk MD5=\"" +
                              key + "\" chunk_size=\"9\" block_num=\"0\"/></upload_file>"))},
      {"no number", kBack,
       Envelope(Operation("upload_file",
                          "<upload_file file_name=\"ann/a\" dir_flag=\"no\" file_size=\"ten\" modify_time=\"1\" "
                          "new_chunk_num=\"0\" new_file_flag=\"yes\" old_chunk_num=\"0\"/>"))},
      {"path climbing out", kBack,
       Envelope(Operation("remove", "<remove file_name=\"ann/docs/../../etc\" purge_flag=\"no\"/>"))},
      {"path with a backslash", kBack,
       Envelope(Operation("rename", "<rename old_file_name=\"ann\\a\" new_file_name=\"ann/b\"/>"))},
      {"empty path component", kBack, Envelope(Operation("remove", "<remove file_name=\"ann//a\"/>"))},
      {"storage key naming a path", kTransmitter,
       Envelope(Operation("download_chunk", "<download_chunk MD5=\"" + key + "\" storage_key=\"../../service.db\"/>"))},
      {"upload without content", kTransmitter,
       Envelope(Operation("upload_chunk", "<upload_chunk MD5=\"" + awaited.key + "\" storage_key=\"" +
                                              awaited.storageId + "\" chunk_size=\"7\" delta_flag=\"no\"/>"))},
      {"multipart without its parts", kTransmitter, "--x\r\nContent-Type: text/plain\r\n\r\nhalf",
       "multipart/related; boundary=\"x\"; type=\"application/xop+xml\""},
  };
  for (const Case& c : cases) {
    const Verdict verdict = Read(Post(c.path, c.body, c.type));
    EXPECT_EQ(verdict.result, "FAIL") << c.name;
    EXPECT_EQ(verdict.reason, "9") << c.name;
  }
  EXPECT_EQ(List(*ann_, "ann").size(), 0u) << "still serving, nothing stored";
}

TEST_F(ServiceMalformedTest, AnswersEchoTheRequestSequence) {
  const Verdict ok = Read(Post(kBack, Envelope(Operation("login", "<login/>"))));
  EXPECT_EQ(ok.result, "OK");
  EXPECT_EQ(ok.sequence, "41");
  const Verdict refused = Read(Post(kTransmitter, Envelope(Operation("upload_chunk", "<upload_chunk/>"))));
  EXPECT_EQ(refused.reason, "9");
  EXPECT_EQ(refused.sequence, "41") << "the transmitter's client checks it even on a failure";
}

TEST_F(ServiceMalformedTest, OversizedBodiesAreReadToTheEndAndRefused) {
  ServiceOptions options = Options();
  options.maxBody = 64 * 1024;
  Restart(options);
  ann_ = Connect("ann", "s3cret");
  const std::string padding(200 * 1024, 'x');
  const Verdict verdict = Read(Post(kBack, Envelope(Operation("login", "<login pad=\"" + padding + "\"/>"))));
  EXPECT_EQ(verdict.reason, "9");
  EXPECT_NE(ServiceLog().find("refused"), std::string::npos);

  // Through the client: a 1 MiB chunk does not fit either.
  const ClientFile file = DescribeFile("ann/big", TestBytes(1 << 20, 9));
  EXPECT_EQ(Upload(*ann_, file), "failed");
  EXPECT_EQ(Upload(*ann_, DescribeFile("ann/small", "fits")), "all_chunk_exist") << "still serving";
}

TEST_F(ServiceMalformedTest, EveryRequestLeavesOneLogLine) {
  const std::string before = ServiceLog();
  Read(Post(kBack, "garbage"));
  std::string result;
  ann_->back.Login(result);
  // A name with a line feed in it stays on its request's line.
  std::string forged = Operation("login", "<login/>");
  forged.replace(forged.find("user_name=\"ann\""), 15, "user_name=\"ann&#10;[forged]\"");
  Read(Post(kBack, Envelope(forged)));
  const std::string added = ServiceLog().substr(before.size());
  EXPECT_NE(added.find("POST /axis2/services/vor_service_bs 200 op= user= result=reason 9 in=7"), std::string::npos)
      << added;
  EXPECT_NE(added.find("op=login user=ann result=OK"), std::string::npos) << added;
  EXPECT_EQ(added.find("\n[forged]"), std::string::npos) << added;
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 3) << added;
}

}  // namespace
