#include "protocol/Transmitter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/Util.h"
#include "tests/support/LogCapture.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

constexpr const char* kPath = "/axis2/services/vor_service_trs";
const std::string kKey(32, 'd');

std::string RandomBytes(size_t size) {
  std::mt19937 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string Sequence(int n) { return " rsp_sequence=\"" + std::to_string(n) + "\""; }

// A download answer as an MTOM package with the bytes as its attachment.
ScriptedReply MtomReply(const std::string& payload, const std::string& contentId, const std::string& bytes) {
  ScriptedReply reply;
  reply.contentType = "multipart/related; boundary=MIMEBoundary_t; type=\"application/xop+xml\"; start=\"<root@t>\"; "
                      "start-info=\"application/soap+xml\"";
  reply.body = "--MIMEBoundary_t\r\nContent-Type: application/xop+xml; type=\"application/soap+xml\"\r\n"
               "Content-ID: <root@t>\r\n\r\n" + Envelope(payload) +
               "\r\n--MIMEBoundary_t\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n"
               "Content-ID: <" + contentId + ">\r\n\r\n" + bytes + "\r\n--MIMEBoundary_t--\r\n";
  return reply;
}

std::string DownloadBody(const std::string& key, const std::string& storage, const std::string& content) {
  return "<download_chunk_rsp MD5=\"" + key + "\" storage_key=\"" + storage + "\">" + content + "</download_chunk_rsp>";
}

const std::string kInclude = "<content><xop:Include xmlns:xop=\"http://www.w3.org/2004/08/xop/include\" "
                             "href=\"cid:c1@t\"/></content>";

class TransmitterTest : public testing::Test {
 protected:
  void SetUp() override {
    trs_.SetCallTimeout(10000);
    ASSERT_EQ(trs_.Init(server_.Url(kPath), "alice", "secret", "HOST-7", ""), 1);
  }
  CChunkInfo Chunk(int size, const std::string& storage = "ST-1") const { return CChunkInfo{kKey, storage, size, 0, "", ""}; }
  int Next() const { return trs_.RequestSequence() + 1; }

  LogCapture log_;
  ScriptedServer server_;
  CTransmitter trs_;
};

TEST_F(TransmitterTest, DownloadSendsTheChunkNamesAndReadsTheAttachment) {
  const std::string bytes = RandomBytes(70000);
  server_.Push(MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", kInclude), Sequence(1)), "c1@t", bytes));
  CChunkBuffer buffer(16);
  std::string result;
  ASSERT_EQ(trs_.DownloadChunk(Chunk(70000), result, buffer), 1);
  EXPECT_EQ(result, "OK");
  ASSERT_EQ(buffer.length(), 70000u);
  EXPECT_EQ(std::memcmp(buffer.data(), bytes.data(), bytes.size()), 0);

  const ReceivedRequest raw = server_.Requests().at(0);
  EXPECT_EQ(raw.url, kPath);
  EXPECT_EQ(raw.Header("Content-Type"), "application/soap+xml;charset=UTF-8") << "no attachment, no package";
  const CapturedPayload sent = DecodeRequest(raw);
  EXPECT_EQ(Attributes(sent.payload), (AttributeList{{"name", "download_chunk"}, {"version", "version01"}}));
  const pugi::xml_node head = sent.payload.child("request_head");
  EXPECT_EQ(Attributes(head),
            (AttributeList{{"user_name", "alice"}, {"password", "5EBE2294ECD0E0F0"}, {"req_sequence", "1"}}));
  EXPECT_STREQ(head.child_value("host_id"), "HOST-7");
  EXPECT_EQ(Attributes(head.next_sibling()), (AttributeList{{"MD5", kKey}, {"storage_key", "ST-1"}}));
  EXPECT_STREQ(head.next_sibling().name(), "download_chunk");
}

TEST_F(TransmitterTest, DownloadAcceptsInlineBase64Content) {
  std::string base64;
  CUtil::Base64Encode("chunk bytes", 11, base64);
  server_.Push(SoapReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", "<content>" + base64 + "</content>"),
                                Sequence(1))));
  CChunkBuffer buffer(0);
  std::string result;
  ASSERT_EQ(trs_.DownloadChunk(Chunk(11), result, buffer), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length()), "chunk bytes");
}

TEST_F(TransmitterTest, DownloadWithoutTheChunkNamesSendsNothing) {
  const CChunkInfo cases[] = {CChunkInfo{"", "ST", 4, 0, "", ""}, CChunkInfo{kKey, "", 4, 0, "", ""},
                              CChunkInfo{kKey, "ST", 0, 0, "", ""}};
  for (const CChunkInfo& chunk : cases) {
    CChunkBuffer buffer(4);
    std::string result;
    EXPECT_EQ(trs_.DownloadChunk(chunk, result, buffer), 0);
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
  EXPECT_TRUE(log_.Contains("[CTransmitter::DownloadChunk]: Fail to download for Missing chunk info: ChunkID {" + kKey +
                            "}, StorageKey {}, ChunkSize {4}"));
}

TEST_F(TransmitterTest, BadDownloadAnswersFailWithTheirLines) {
  const std::string five = "12345";
  struct Case {
    const char* what;
    std::function<ScriptedReply(int sequence)> reply;
    int size;
    std::vector<std::string> lines;
  };
  const std::string almost(4194303, 'x');
  const std::string over(4194305, 'y');
  const Case cases[] = {
      {"attachment one byte short",
       [&](int n) { return MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", kInclude), Sequence(n)), "c1@t", almost); },
       4194304, {"Mismatched chunk download, (chunksize: 4194304, 4194303)"}},
      {"attachment above the chunk limit",
       [&](int n) { return MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", kInclude), Sequence(n)), "c1@t", over); },
       4194304, {"Refused an attachment of 4194305 bytes (limit 4194304)", "(chunksize: 4194304, 4194304)"}},
      {"other storage key",
       [&](int n) { return MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-2", kInclude), Sequence(n)), "c1@t", five); },
       5, {"Mismatched chunk download, (chunksize: 5, 5)"}},
      {"missing attachment",
       [&](int n) { return MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", kInclude), Sequence(n)), "c2@t", five); },
       5, {"[CTransmitter::ParseOmDownloadChunk]: Fail to get the attachment {cid:c1@t}"}},
      {"no MD5 attribute",
       [&](int n) { return SoapReply(Answer("download_chunk", "<download_chunk_rsp storage_key=\"ST-1\"><content>MTIzNDU=</content></download_chunk_rsp>", Sequence(n))); },
       5, {"[CTransmitter::ParseOmDownloadChunk]: Fail to get a attribute"}},
      {"no content",
       [&](int n) { return SoapReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", ""), Sequence(n))); },
       5, {"[CTransmitter::ParseOmDownloadChunk]: Fail to get a node"}},
      {"content of another name",
       [&](int n) { return SoapReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", "<data>MTIzNDU=</data>"), Sequence(n))); },
       5, {"[CTransmitter::PareseOmElementValue]: Mismatched element KEY data with content"}},
      {"body of another name",
       [&](int n) { return SoapReply(Answer("download_chunk", "<upload_chunk_rsp/>", Sequence(n))); },
       5, {"Mismatched element KEY upload_chunk_rsp with download_chunk_rsp", "(chunksize: 5, 5)"}},
      {"no rsp_sequence",
       [&](int) { return SoapReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", "<content>MTIzNDU=</content>"), "")); },
       5, {"Mismatched CSEQ  with "}},
      {"non-numeric rsp_sequence",
       [&](int n) { return SoapReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", "<content>MTIzNDU=</content>"), " rsp_sequence=\"x" + std::to_string(n) + "\"")); },
       5, {"Mismatched CSEQ x"}},
      {"failure without reason",
       [&](int n) { return SoapReply(Answer("download_chunk", "", Sequence(n), "21")); },
       5, {"[CTransmitter::ParseOmHead]: Fail to get a element"}},
      {"truncated package",
       [&](int n) {
         ScriptedReply r = MtomReply(Answer("download_chunk", DownloadBody(kKey, "ST-1", kInclude), Sequence(n)), "c1@t", five);
         r.body.resize(r.body.size() - 22);
         return r;
       },
       5, {"[CTransmitter::ParseOmHead]: Stub invoke FAILED: Error code:  4 :: truncated multipart answer"}},
  };
  for (const Case& c : cases) {
    server_.Push(c.reply(Next()));
    // Bytes of an earlier chunk of the same size must not pass for this one.
    CChunkBuffer buffer(static_cast<uint32_t>(c.size));
    buffer.SetLength(static_cast<uint32_t>(c.size));
    std::string result;
    EXPECT_EQ(trs_.DownloadChunk(Chunk(c.size), result, buffer), 0) << c.what;
    for (const std::string& line : c.lines) EXPECT_TRUE(log_.Contains(line)) << c.what << ": " << line;
  }
}

TEST_F(TransmitterTest, AnAnswerForAnotherRequestIsRefusedBySequence) {
  for (int n = 1; n <= 7; ++n) {
    server_.Push(SoapReply(Answer("remove_chunk", "<remove_chunk_rsp MD5=\"" + kKey + "\" storage_key=\"ST-1\"/>", Sequence(n))));
    std::string result;
    ASSERT_EQ(trs_.RemoveChunk(Chunk(1), result), 1);
  }
  server_.Push(SoapReply(Answer("remove_chunk", "<remove_chunk_rsp MD5=\"" + kKey + "\" storage_key=\"ST-1\"/>", Sequence(7))));
  std::string result;
  EXPECT_EQ(trs_.RemoveChunk(Chunk(1), result), 0);
  EXPECT_TRUE(log_.Contains("<error>[CTransmitter::ParseOmHead]: Mismatched CSEQ 7 with 8"));
}

TEST_F(TransmitterTest, UploadSendsTheBytesAsAnMtomAttachment) {
  const std::string bytes = RandomBytes(4194304);
  CChunkBuffer whole(4194304);
  std::memcpy(whole.data(), bytes.data(), bytes.size());
  whole.SetLength(4194304);
  CChunkBuffer delta(10);
  std::memcpy(delta.data(), "CNYSdelta!", 10);
  delta.SetLength(10);
  struct Case {
    const CChunkBuffer* buffer;
    int deltaFlag;
    const char* size;
    const char* flag;
  };
  const Case cases[] = {{&whole, 0, "4194304", "no"}, {&delta, 1, "10", "yes"}};
  for (const Case& c : cases) {
    server_.Push(SoapReply(Answer("upload_chunk", "<upload_chunk_rsp MD5=\"" + kKey + "\" storage_key=\"ST-1\"/>",
                                  Sequence(Next()))));
    std::string result;
    EXPECT_EQ(trs_.UploadChunk(Chunk(4194304), *c.buffer, result, c.deltaFlag), 1) << c.flag;

    const ReceivedRequest raw = server_.Requests().back();
    EXPECT_EQ(raw.Header("Content-Type").rfind("multipart/related;", 0), 0u);
    CapturedPayload sent = DecodeRequest(raw);
    const pugi::xml_node body = sent.payload.child("upload_chunk");
    EXPECT_EQ(Attributes(body), (AttributeList{{"MD5", kKey}, {"storage_key", "ST-1"}, {"chunk_size", c.size},
                                               {"delta_flag", c.flag}}));
    std::string_view received;
    size_t size = 0;
    ASSERT_EQ(sent.message->ReadBinary(body.child("content"), kAttachmentLimit, received, size),
              CSoapAnswer::Binary::kOk);
    EXPECT_TRUE(received == std::string_view(reinterpret_cast<const char*>(c.buffer->data()), c.buffer->length()));
    EXPECT_FALSE(raw.body.find("Content-Transfer-Encoding: binary") == std::string::npos);
  }
  EXPECT_TRUE(log_.Contains("[CTransmitter::UploadChunk]: request:<operation name=\"upload_chunk\""));
}

TEST_F(TransmitterTest, UploadAndRemoveNeedTheSameChunkConfirmed) {
  std::string result;
  CChunkBuffer buffer(3);
  buffer.SetLength(3);
  server_.Push(SoapReply(Answer("upload_chunk", "<upload_chunk_rsp MD5=\"" + kKey + "\"/>", Sequence(1))));
  EXPECT_EQ(trs_.UploadChunk(Chunk(3), buffer, result, 0), 0);
  EXPECT_TRUE(log_.Contains("[CTransmitter::ParseOmUploadChunk]: Fail to get a attribute"));
  EXPECT_TRUE(log_.Contains("[CTransmitter::UploadChunk]: Mismatched chunk uploaded"));

  server_.Push(SoapReply(Answer("remove_chunk", "<remove_chunk_rsp MD5=\"" + std::string(32, 'e') +
                                                    "\" storage_key=\"ST-1\"/>", Sequence(2))));
  EXPECT_EQ(trs_.RemoveChunk(Chunk(3), result), 0);
  EXPECT_TRUE(log_.Contains("[CTransmitter::RemoveChunk]: Mismatched chunk uploaded"));
  const CapturedPayload sent = DecodeRequest(server_.Requests().back());
  EXPECT_EQ(Attributes(sent.payload.child("remove_chunk")), (AttributeList{{"MD5", kKey}, {"storage_key", "ST-1"}}));

  server_.Push(SoapReply(Answer("remove_chunk", "", Sequence(3), "21", "21")));
  EXPECT_EQ(trs_.RemoveChunk(Chunk(3), result), 0);
  EXPECT_EQ(result, "21");
  EXPECT_EQ(trs_.GetReason(), "21");
  EXPECT_TRUE(log_.Contains("<info >[CTransmitter::RemoveChunk]: Get a ack (21) with reason (21)"));
}

TEST_F(TransmitterTest, AnEmptyPasswordSendsAnEmptyAttribute) {
  CTransmitter anonymous;
  ASSERT_EQ(anonymous.Init(server_.Url(kPath), "bob", "", "H", ""), 1);
  server_.Push(SoapReply(Answer("remove_chunk", "<remove_chunk_rsp MD5=\"" + kKey + "\" storage_key=\"ST-1\"/>", Sequence(1))));
  std::string result;
  EXPECT_EQ(anonymous.RemoveChunk(Chunk(1), result), 1);
  const CapturedPayload sent = DecodeRequest(server_.Requests().back());
  const pugi::xml_node head = sent.payload.child("request_head");
  ASSERT_TRUE(head.attribute("password"));
  EXPECT_STREQ(head.attribute("password").value(), "");
}

}  // namespace
