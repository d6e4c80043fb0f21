#include "protocol/SoapMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/protocol/SoapTestKit.h"

namespace {

std::string AllByteValues() {
  std::string bytes;
  for (int round = 0; round < 3; ++round) {
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  }
  // Text that would end a part if the boundary were not checked against it.
  return bytes + "\r\n--MIMEBoundary_\r\n\r\n--";
}

TEST(SoapMessageTest, PlainRequestIsTheBareEnvelopeAroundThePayload) {
  const SoapRequestBody request = EncodeRequest("<operation name=\"login\" version=\"version01\"/>", {});
  EXPECT_EQ(request.contentType, "application/soap+xml;charset=UTF-8");

  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(request.body.c_str()));
  const pugi::xml_node envelope = document.document_element();
  EXPECT_EQ(LocalName(envelope.name()), "Envelope");
  EXPECT_STREQ(envelope.attribute("xmlns:soapenv").value(), "http://www.w3.org/2003/05/soap-envelope");
  const pugi::xml_node body = envelope.first_child();
  EXPECT_EQ(LocalName(body.name()), "Body");
  EXPECT_STREQ(body.first_child().name(), "operation");
  EXPECT_FALSE(body.first_child().next_sibling());
}

TEST(SoapMessageTest, MtomRequestCarriesTheBytesAsABinaryPartReferencedByContentId) {
  const std::string bytes = AllByteValues();
  pugi::xml_document payload;
  pugi::xml_node content = payload.append_child("upload_chunk").append_child("content");
  const std::string id = AddXopInclude(content, 0);
  const std::vector<SoapAttachment> attachments = {
      {id, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}};
  const SoapRequestBody request = EncodeRequest(SerializePayload(payload.document_element()), attachments);

  const std::string& type = request.contentType;
  EXPECT_EQ(type.rfind("multipart/related;", 0), 0u) << type;
  EXPECT_NE(type.find("type=\"application/xop+xml\""), std::string::npos);
  EXPECT_NE(type.find("start-info=\"application/soap+xml\""), std::string::npos);
  const size_t boundaryAt = type.find("boundary=\"");
  ASSERT_NE(boundaryAt, std::string::npos);
  const std::string boundary = type.substr(boundaryAt + 10, type.find('"', boundaryAt + 10) - boundaryAt - 10);
  EXPECT_EQ(request.body.rfind("--" + boundary + "\r\n", 0), 0u);
  EXPECT_NE(request.body.find("Content-Type: application/xop+xml"), std::string::npos);
  EXPECT_NE(request.body.find("Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: binary\r\n"
                              "Content-ID: <" + id + ">\r\n\r\n" + bytes + "\r\n--" + boundary + "--"),
            std::string::npos)
      << "the attachment travels as raw bytes";

  CSoapAnswer decoded;
  std::string error;
  ASSERT_TRUE(decoded.Decode(request.body, request.contentType, error)) << error;
  const pugi::xml_node include = decoded.Payload().child("content").first_child();
  EXPECT_EQ(LocalName(include.name()), "Include");
  EXPECT_STREQ(include.attribute("xmlns:xop").value(), "http://www.w3.org/2004/08/xop/include");
  EXPECT_EQ(std::string(include.attribute("href").value()), "cid:" + id);
  std::string_view read;
  size_t size = 0;
  ASSERT_EQ(decoded.ReadBinary(decoded.Payload().child("content"), kAttachmentLimit, read, size),
            CSoapAnswer::Binary::kOk);
  EXPECT_EQ(read, bytes);
}

// A package as other SOAP engines write it: a start parameter naming the root
// part (not the first one), bare "--" delimiters, an escaped cid URL.
TEST(SoapMessageTest, DecodesAForeignMtomAnswerByItsStartPartAndContentIds) {
  const std::string binary = std::string("\x00\x01\xff\r\n", 5) + "payload";
  const std::string body =
      "preamble\r\n"
      "--uuid:b7\r\n"
      "Content-Type: application/octet-stream\r\n"
      "Content-Transfer-Encoding: binary\r\n"
      "Content-ID: <1.part@host>\r\n\r\n" +
      binary +
      "\r\n--uuid:b7\r\n"
      "content-type: application/xop+xml; type=\"application/soap+xml\"\r\n"
      "content-id: <root@host>\r\n\r\n" +
      Envelope("<ns:operation xmlns:ns=\"urn:x\" name=\"download_chunk\"><content><xop:Include "
               "xmlns:xop=\"http://www.w3.org/2004/08/xop/include\" href=\"cid:1.part%40host\"/></content>"
               "</ns:operation>") +
      "\r\n--uuid:b7--\r\nepilogue";
  CSoapAnswer answer;
  std::string error;
  ASSERT_TRUE(answer.Decode(body, "Multipart/Related; type=\"application/xop+xml\"; boundary=\"uuid:b7\"; "
                                  "start=\"<root@host>\"",
                            error))
      << error;
  EXPECT_EQ(LocalName(answer.Payload().name()), "operation");
  std::string_view read;
  size_t size = 0;
  ASSERT_EQ(answer.ReadBinary(answer.Payload().child("content"), kAttachmentLimit, read, size),
            CSoapAnswer::Binary::kOk);
  EXPECT_EQ(read, binary);
  EXPECT_EQ(answer.AttachmentIds(), std::vector<std::string>{"1.part@host"});
}

TEST(SoapMessageTest, ReadsInlineBase64ContentAndRefusesWhatIsMissingOrTooLarge) {
  CSoapAnswer answer;
  std::string error;
  ASSERT_TRUE(answer.Decode(Envelope("<r><a>aGVs\nbG8=</a><b><xop:Include href=\"cid:none\"/></b>"
                                     "<c><other/></c><d/><e>QUJDREVGR0hJSktMTU5PUA==</e></r>"),
                            "application/soap+xml", error))
      << error;
  const pugi::xml_node r = answer.Payload();
  std::string_view bytes;
  size_t size = 0;
  ASSERT_EQ(answer.ReadBinary(r.child("a"), 16, bytes, size), CSoapAnswer::Binary::kOk);
  EXPECT_EQ(bytes, "hello");
  EXPECT_EQ(answer.ReadBinary(r.child("b"), 16, bytes, size), CSoapAnswer::Binary::kMissingAttachment);
  EXPECT_EQ(answer.ReadBinary(r.child("c"), 16, bytes, size), CSoapAnswer::Binary::kNoContent);
  EXPECT_EQ(answer.ReadBinary(r.child("d"), 16, bytes, size), CSoapAnswer::Binary::kNoContent);
  EXPECT_EQ(answer.ReadBinary(r.child("e"), 16, bytes, size), CSoapAnswer::Binary::kOk);
  EXPECT_EQ(answer.ReadBinary(r.child("e"), 15, bytes, size), CSoapAnswer::Binary::kTooLarge);
  EXPECT_EQ(size, 16u);
}

TEST(SoapMessageTest, AnAttachmentAboveTheLimitIsRefusedWithItsSize) {
  const std::string big(kAttachmentLimit + 1, 'x');
  pugi::xml_document payload;
  const std::string id = AddXopInclude(payload.append_child("content"), 0);
  const SoapRequestBody request = EncodeRequest(
      SerializePayload(payload.document_element()),
      {{id, reinterpret_cast<const unsigned char*>(big.data()), big.size()}});
  CSoapAnswer answer;
  std::string error;
  ASSERT_TRUE(answer.Decode(request.body, request.contentType, error)) << error;
  std::string_view bytes;
  size_t size = 0;
  EXPECT_EQ(answer.ReadBinary(answer.Payload(), kAttachmentLimit, bytes, size), CSoapAnswer::Binary::kTooLarge);
  EXPECT_EQ(size, kAttachmentLimit + 1);
  EXPECT_TRUE(bytes.empty());
}

TEST(SoapMessageTest, AnswersThatAreNoSoapAnswerGiveAReason) {
  const std::string multipart = "multipart/related; boundary=\"b1\"; type=\"application/xop+xml\"";
  const std::string part = "--b1\r\nContent-ID: <root>\r\n\r\n" + Envelope("<operation/>");
  struct Case {
    const char* what;
    std::string contentType;
    std::string body;
    const char* reason;
  };
  const Case cases[] = {
      {"malformed XML", "application/soap+xml", "<soapenv:Envelope><soapenv:Body><operation>", "malformed XML answer"},
      {"empty body", "application/soap+xml", "", "malformed XML answer"},
      {"no envelope", "application/soap+xml", "<operation name=\"login\"/>", "not a SOAP envelope"},
      {"no Body", "application/soap+xml", "<e:Envelope xmlns:e=\"x\"><e:Header/></e:Envelope>", "without a Body"},
      {"empty Body", "application/soap+xml", Envelope(""), "without a payload"},
      {"SOAP 1.2 fault", "application/soap+xml",
       Envelope("<soapenv:Fault><soapenv:Code><soapenv:Value>soapenv:Receiver</soapenv:Value></soapenv:Code>"
                "<soapenv:Reason><soapenv:Text xml:lang=\"en\">disk full</soapenv:Text></soapenv:Reason>"
                "</soapenv:Fault>"),
       "SOAP Fault soapenv:Receiver: disk full"},
      {"SOAP 1.1 fault", "text/xml",
       Envelope("<soapenv:Fault><faultcode>Server</faultcode><faultstring>broken</faultstring></soapenv:Fault>"),
       "SOAP Fault Server: broken"},
      {"multipart without boundary", "multipart/related; type=\"application/xop+xml\"", part + "\r\n--b1--",
       "without a boundary"},
      {"multipart without delimiter", multipart, Envelope("<operation/>"), "without its first boundary"},
      {"multipart cut in the root part", multipart, part, "truncated multipart answer"},
      {"multipart cut in the part headers", multipart, part + "\r\n--b1\r\nContent-ID: <a>", "truncated multipart"},
      {"multipart cut in an attachment", multipart, part + "\r\n--b1\r\nContent-ID: <a>\r\n\r\nxyz",
       "truncated multipart answer"},
  };
  for (const Case& c : cases) {
    CSoapAnswer answer;
    std::string error;
    EXPECT_FALSE(answer.Decode(c.body, c.contentType, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    EXPECT_FALSE(answer.Payload()) << c.what;
  }
}

}  // namespace
