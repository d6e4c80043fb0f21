#pragma once
// The SOAP 1.2 wire form around a payload element, and MTOM/XOP for binary
// content: what a SOAP engine adds to a request and strips from an answer.
//
// Requests: the payload alone in an envelope (application/soap+xml), or, with
// attachments, a multipart/related package whose root part is the envelope
// (application/xop+xml) and whose other parts are the attachments
// (application/octet-stream, binary), each referenced from the payload by an
// <xop:Include href="cid:..."/> element.
// Answers: either form; binary content may also come as inline Base64 text.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

constexpr const char* kSoapContentType = "application/soap+xml;charset=UTF-8";
constexpr const char* kSoapEnvelopeNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kXopNs = "http://www.w3.org/2004/08/xop/include";
constexpr std::size_t kAttachmentLimit = 4194304;  // largest binary content accepted

// The payload text as it goes on the wire: no indentation, and values are
// written as stored (the builders store them already escaped, WireValue.h).
std::string SerializePayload(pugi::xml_node node);

// Makes `element` refer to an attachment: appends <xop:Include> with a fresh
// Content-ID, which is returned.
std::string AddXopInclude(pugi::xml_node element, int index);

struct SoapAttachment {
  std::string contentId;
  const unsigned char* data = nullptr;  // not owned; must outlive EncodeRequest
  std::size_t size = 0;
};

struct SoapRequestBody {
  std::string contentType;
  std::string body;
};

// The HTTP body of a request carrying `payloadXml` (and the attachments).
SoapRequestBody EncodeRequest(const std::string& payloadXml, const std::vector<SoapAttachment>& attachments);
// Answers take the same two forms (the service's side).
inline SoapRequestBody EncodeAnswer(const std::string& payloadXml, const std::vector<SoapAttachment>& attachments) {
  return EncodeRequest(payloadXml, attachments);
}

// One decoded answer. Holds the HTTP body; the payload tree and the
// attachments point into it, so the object must outlive their use.
class CSoapAnswer {
 public:
  // False, with the reason in `error`, when the body is no SOAP answer with
  // a payload: malformed XML or multipart, no envelope or Body, a Fault.
  bool Decode(std::string body, const std::string& contentType, std::string& error);

  // The first element inside the Body; empty before a successful Decode.
  pugi::xml_node Payload() const { return payload_; }

  enum class Binary { kOk, kNoContent, kMissingAttachment, kTooLarge };
  // The bytes `element` carries: the attachment its first child
  // <xop:Include> names, or the Base64 text of its first child. Content
  // above `limit` bytes is refused before anything is copied; `size` then
  // holds its length.
  Binary ReadBinary(pugi::xml_node element, std::size_t limit, std::string_view& bytes, std::size_t& size);

  // The Content-IDs of the attachments, for diagnostics.
  std::vector<std::string> AttachmentIds() const;

 private:
  bool DecodeMultipart(const std::string& contentType, std::string& error);
  bool ParseEnvelope(char* text, std::size_t length, std::string& error);

  std::string body_;
  pugi::xml_document document_;
  pugi::xml_node payload_;
  std::map<std::string, std::string_view, std::less<>> attachments_;
  std::vector<std::string> decoded_;  // inline Base64 content, decoded
};

// The service decodes the requests it receives with the same class.
using CSoapReceived = CSoapAnswer;

// The local part of an element or attribute name ("xop:Include" -> "Include").
std::string_view LocalName(const char* name);
