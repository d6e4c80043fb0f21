#include "protocol/SoapMessage.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <random>

#include "foundation/Format.h"
#include "foundation/Util.h"

namespace {

constexpr const char* kRootId = "root.message@vessa";

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, size_t size) override { out_.append(static_cast<const char*>(data), size); }

 private:
  std::string& out_;
};

std::string Envelope(const std::string& payloadXml) {
  std::string text;
  text.reserve(payloadXml.size() + 200);
  text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soapenv:Envelope xmlns:soapenv=\"";
  text += kSoapEnvelopeNs;
  text += "\"><soapenv:Body>";
  text += payloadXml;
  text += "</soapenv:Body></soapenv:Envelope>";
  return text;
}

std::string RandomHex(int digits) {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < digits; ++i) text += kHex[generator() & 15];
  return text;
}

// A skipping search: a boundary is looked for in every 4 MiB chunk sent.
bool Contains(std::string_view haystack, std::string_view needle) {
  const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
  return std::search(haystack.begin(), haystack.end(), searcher) != haystack.end();
}

// A boundary that occurs in no part (a random one practically never does).
std::string MakeBoundary(const std::string& root, const std::vector<SoapAttachment>& attachments) {
  for (;;) {
    const std::string boundary = "MIMEBoundary_" + RandomHex(32);
    bool clash = Contains(root, boundary);
    for (const SoapAttachment& a : attachments) {
      clash = clash || Contains(std::string_view(reinterpret_cast<const char*>(a.data), a.size), boundary);
    }
    if (!clash) return boundary;
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// "<id>" -> "id"
std::string_view Unbracket(std::string_view id) {
  id = Trim(id);
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  return id;
}

// The value of a parameter of a Content-Type header ("" when absent).
std::string ContentTypeParameter(const std::string& contentType, const std::string& name) {
  size_t at = contentType.find(';');
  while (at != std::string::npos) {
    ++at;
    size_t end = at;
    bool quoted = false;
    while (end < contentType.size() && (quoted || contentType[end] != ';')) {
      if (contentType[end] == '"') quoted = !quoted;
      ++end;
    }
    const std::string_view item = Trim(std::string_view(contentType).substr(at, end - at));
    const size_t equals = item.find('=');
    if (equals != std::string_view::npos && LowerAscii(Trim(item.substr(0, equals))) == name) {
      std::string_view value = Trim(item.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      return std::string(value);
    }
    at = end < contentType.size() ? end : std::string::npos;
  }
  return "";
}

// RFC 2392: a "cid:" URL is the Content-ID with %hh escapes.
std::string DecodeCid(std::string_view href) {
  std::string id;
  for (size_t i = 0; i < href.size(); ++i) {
    if (href[i] == '%' && i + 2 < href.size() && std::isxdigit(static_cast<unsigned char>(href[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(href[i + 2]))) {
      id += static_cast<char>(std::stoi(std::string(href.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      id += href[i];
    }
  }
  return id;
}

struct MimePart {
  std::string contentId;
  size_t offset = 0;  // of the content in the body
  size_t length = 0;
};

// Splits a multipart body at its delimiters ("--boundary" at the start of a
// line). False when the closing delimiter never comes or a part is cut.
bool SplitParts(const std::string& body, const std::string& boundary, std::vector<MimePart>& parts,
                std::string& error) {
  const std::string delimiter = "--" + boundary;
  size_t at = body.compare(0, delimiter.size(), delimiter) == 0 ? 0 : body.find("\n" + delimiter);
  if (at == std::string::npos) {
    error = "multipart answer without its first boundary";
    return false;
  }
  if (at != 0) ++at;  // past the line feed
  for (;;) {
    at += delimiter.size();
    if (body.compare(at, 2, "--") == 0) return true;  // closing delimiter
    const size_t lineEnd = body.find('\n', at);
    if (lineEnd == std::string::npos) break;
    const size_t headersStart = lineEnd + 1;
    size_t headersEnd = body.find("\n\r\n", lineEnd);
    size_t bareEnd = body.find("\n\n", lineEnd);
    size_t contentStart;
    if (headersEnd != std::string::npos && (bareEnd == std::string::npos || headersEnd < bareEnd)) {
      contentStart = headersEnd + 3;
    } else if (bareEnd != std::string::npos) {
      headersEnd = bareEnd;
      contentStart = bareEnd + 2;
    } else {
      break;
    }
    const size_t next = body.find("\n" + delimiter, contentStart - 1);
    if (next == std::string::npos) break;
    MimePart part;
    const std::string_view headers(body.data() + headersStart, headersEnd > headersStart ? headersEnd - headersStart : 0);
    size_t line = 0;
    while (line < headers.size()) {
      size_t end = headers.find('\n', line);
      if (end == std::string_view::npos) end = headers.size();
      const std::string_view field = headers.substr(line, end - line);
      const size_t colon = field.find(':');
      if (colon != std::string_view::npos && LowerAscii(Trim(field.substr(0, colon))) == "content-id") {
        part.contentId = std::string(Unbracket(field.substr(colon + 1)));
      }
      line = end + 1;
    }
    part.offset = contentStart;
    size_t contentEnd = std::max(next, contentStart);
    if (contentEnd > contentStart && body[contentEnd - 1] == '\r') --contentEnd;
    part.length = contentEnd - contentStart;
    parts.push_back(part);
    at = next + 1;
  }
  error = "truncated multipart answer";
  return false;
}

std::string_view NodeText(pugi::xml_node node) { return node ? node.child_value() : ""; }

}  // namespace

std::string_view LocalName(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(name);
}

std::string SerializePayload(pugi::xml_node node) {
  std::string text;
  StringWriter writer(text);
  node.print(writer, "", pugi::format_raw | pugi::format_no_escapes);
  return text;
}

std::string AddXopInclude(pugi::xml_node element, int index) {
  const std::string id = StrFormat("content%d.%s@vessa", index, RandomHex(16).c_str());
  pugi::xml_node include = element.append_child("xop:Include");
  include.append_attribute("xmlns:xop").set_value(kXopNs);
  include.append_attribute("href").set_value(("cid:" + id).c_str());
  return id;
}

SoapRequestBody EncodeRequest(const std::string& payloadXml, const std::vector<SoapAttachment>& attachments) {
  SoapRequestBody request;
  const std::string envelope = Envelope(payloadXml);
  if (attachments.empty()) {
    request.contentType = kSoapContentType;
    request.body = envelope;
    return request;
  }
  const std::string boundary = MakeBoundary(envelope, attachments);
  request.contentType = StrFormat(
      "multipart/related; boundary=\"%s\"; type=\"application/xop+xml\"; start=\"<%s>\"; "
      "start-info=\"application/soap+xml\"",
      boundary.c_str(), kRootId);
  size_t total = envelope.size() + 512;
  for (const SoapAttachment& a : attachments) total += a.size + 256;
  std::string& body = request.body;
  body.reserve(total);
  body += "--" + boundary + "\r\n";
  body += "Content-Type: application/xop+xml; charset=UTF-8; type=\"application/soap+xml\"\r\n";
  body += "Content-Transfer-Encoding: binary\r\n";
  body += StrFormat("Content-ID: <%s>\r\n\r\n", kRootId);
  body += envelope;
  for (const SoapAttachment& a : attachments) {
    body += "\r\n--" + boundary + "\r\n";
    body += "Content-Type: application/octet-stream\r\n";
    body += "Content-Transfer-Encoding: binary\r\n";
    body += "Content-ID: <" + a.contentId + ">\r\n\r\n";
    body.append(reinterpret_cast<const char*>(a.data), a.size);
  }
  body += "\r\n--" + boundary + "--\r\n";
  return request;
}

bool CSoapAnswer::Decode(std::string body, const std::string& contentType, std::string& error) {
  body_ = std::move(body);
  document_.reset();
  payload_ = pugi::xml_node();
  attachments_.clear();
  decoded_.clear();
  if (LowerAscii(Trim(contentType.substr(0, contentType.find(';')))) == "multipart/related") {
    return DecodeMultipart(contentType, error);
  }
  return ParseEnvelope(body_.data(), body_.size(), error);
}

bool CSoapAnswer::DecodeMultipart(const std::string& contentType, std::string& error) {
  const std::string boundary = ContentTypeParameter(contentType, "boundary");
  if (boundary.empty()) {
    error = "multipart answer without a boundary";
    return false;
  }
  std::vector<MimePart> parts;
  if (!SplitParts(body_, boundary, parts, error)) return false;
  if (parts.empty()) {
    error = "multipart answer without parts";
    return false;
  }
  const std::string start(Unbracket(ContentTypeParameter(contentType, "start")));
  size_t root = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!start.empty() && parts[i].contentId == start) root = i;
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != root) attachments_[parts[i].contentId] = std::string_view(body_.data() + parts[i].offset, parts[i].length);
  }
  return ParseEnvelope(body_.data() + parts[root].offset, parts[root].length, error);
}

bool CSoapAnswer::ParseEnvelope(char* text, std::size_t length, std::string& error) {
  const pugi::xml_parse_result parsed = document_.load_buffer_inplace(text, length);
  if (!parsed) {
    error = StrFormat("malformed XML answer: %s at offset %td", parsed.description(), parsed.offset);
    return false;
  }
  const pugi::xml_node envelope = document_.document_element();
  if (LocalName(envelope.name()) != "Envelope") {
    error = StrFormat("answer is not a SOAP envelope (root element <%s>)", envelope.name());
    return false;
  }
  pugi::xml_node bodyElement;
  for (pugi::xml_node child : envelope.children()) {
    if (child.type() == pugi::node_element && LocalName(child.name()) == "Body") bodyElement = child;
  }
  if (!bodyElement) {
    error = "SOAP envelope without a Body";
    return false;
  }
  const pugi::xml_node payload = bodyElement.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
  if (!payload) {
    error = "SOAP Body without a payload";
    return false;
  }
  if (LocalName(payload.name()) == "Fault") {
    std::string code, reason;
    for (pugi::xml_node part : payload.children()) {
      const std::string_view name = LocalName(part.name());
      if (name == "Code") code = NodeText(part.find_child([](pugi::xml_node n) { return LocalName(n.name()) == "Value"; }));
      if (name == "Reason") reason = NodeText(part.find_child([](pugi::xml_node n) { return LocalName(n.name()) == "Text"; }));
      if (name == "faultcode") code = NodeText(part);      // SOAP 1.1
      if (name == "faultstring") reason = NodeText(part);  // SOAP 1.1
    }
    error = StrFormat("SOAP Fault %s: %s", code.c_str(), reason.c_str());
    return false;
  }
  payload_ = payload;
  return true;
}

CSoapAnswer::Binary CSoapAnswer::ReadBinary(pugi::xml_node element, std::size_t limit, std::string_view& bytes,
                                            std::size_t& size) {
  size = 0;
  const pugi::xml_node child = element.first_child();
  if (child.type() == pugi::node_element && LocalName(child.name()) == "Include") {
    const std::string_view href = child.attribute("href").value();
    if (href.substr(0, 4) != "cid:") return Binary::kMissingAttachment;
    const auto found = attachments_.find(DecodeCid(href.substr(4)));
    if (found == attachments_.end()) return Binary::kMissingAttachment;
    size = found->second.size();
    if (size > limit) return Binary::kTooLarge;
    bytes = found->second;
    return Binary::kOk;
  }
  if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) return Binary::kNoContent;
  const std::string_view text = child.value();
  size_t digits = 0;
  for (const char c : text) {
    if (c == '=') break;
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/') ++digits;
  }
  size = digits * 3 / 4;
  if (size > limit) return Binary::kTooLarge;
  decoded_.emplace_back();
  CUtil::Base64Decode(std::string(text), decoded_.back());
  bytes = decoded_.back();
  size = bytes.size();
  return Binary::kOk;
}

std::vector<std::string> CSoapAnswer::AttachmentIds() const {
  std::vector<std::string> ids;
  for (const auto& [id, bytes] : attachments_) ids.push_back(id);
  return ids;
}
