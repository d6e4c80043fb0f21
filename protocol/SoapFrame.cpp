#include "protocol/SoapFrame.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "protocol/WireValue.h"

namespace {

constexpr const char* kVersion = "version01";

}  // namespace

bool LogWanted(int level) {
  const CLogger* logger = AppLogger();
  return logger && level <= logger->GetLevel();
}

std::string MaskSecrets(std::string text) {
  for (const char* name : {" password=\"", " passport=\""}) {
    const size_t nameLength = std::char_traits<char>::length(name);
    size_t at = 0;
    while ((at = text.find(name, at)) != std::string::npos) {
      const size_t value = at + nameLength;
      const size_t end = text.find('"', value);
      if (end == std::string::npos) break;
      text.replace(value, end - value, "***");
      at = value + 4;
    }
  }
  return text;
}

CSoapFrame::CSoapFrame(const SoapClientProfile& profile) : profile_(profile), timeoutMs_(profile.timeoutMs) {}

CSoapFrame::~CSoapFrame() { FreeAxis2c(); }

std::string CSoapFrame::Function(const char* method) const {
  return std::string(profile_.className) + "::" + method;
}

std::string CSoapFrame::PasswordDigest(const std::string& password) {
  std::string digest;
  if (!CUtil::Md5Hex(password.data(), password.size(), digest)) return "";
  digest.resize(16);
  for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return digest;
}

void CSoapFrame::SetProxy(const std::string& mode, const std::string& address, const std::string& user,
                          const std::string& password) {
  proxy_ = ProxySetting{mode, address, user, password};
}

void CSoapFrame::SetCallTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

int CSoapFrame::SetUp(const std::string& endpoint, const std::string& user, const std::string& password,
                      const std::string& hostId) {
  endpoint_ = endpoint;
  user_ = user;
  password_ = password;
  hostId_ = hostId;
  requestSequence_ = 0;
  if (!InitAxis2c()) {
    LogText(CLogger::kError, Function("Init").c_str(), "Fail to init Axis2c!");
    return 0;
  }
  ApplyProxy();
  return 1;
}

int CSoapFrame::InitAxis2c() {
  FreeAxis2c();
  auto transport = std::make_unique<CHttpTransport>();
  std::string error;
  if (!transport->Open(error)) {
    LogF(CLogger::kError, Function("InitAxis2c").c_str(), "Stub invoke FAILED: Error code: %d :: %s",
         kSoapNotReady, error.c_str());
    return 0;
  }
  transport->SetTimeout(timeoutMs_);
  LogF(CLogger::kInfo, Function("InitAxis2c").c_str(), "Using endpoint : %s", endpoint_.c_str());
  std::lock_guard<std::mutex> lock(transportMutex_);
  transport_ = std::move(transport);
  return 1;
}

int CSoapFrame::ApplyProxy() {
  if (!transport_) return 0;
  std::string address;
  if (ResolveProxy(proxy_, address) == ProxyKind::kNone) {
    transport_->SetProxy("", "", "", "");
    return 0;
  }
  // The SOAP clients speak to an HTTP proxy whatever the mode.
  transport_->SetProxy(CUtil::ProxyHost(address), CUtil::ProxyPort(address), proxy_.user, proxy_.password);
  return 1;
}

void CSoapFrame::FreeAxis2c() {
  std::unique_ptr<CHttpTransport> released;
  {
    std::lock_guard<std::mutex> lock(transportMutex_);
    released = std::move(transport_);
  }
  requestSequence_ = 0;
}

void CSoapFrame::AbortCall() {
  std::lock_guard<std::mutex> lock(transportMutex_);
  if (transport_) transport_->Abort();
}

pugi::xml_node CSoapFrame::BuildOmHead(pugi::xml_document& document, const char* operation) {
  pugi::xml_node root = document.append_child("operation");
  root.append_attribute("name").set_value(operation);
  root.append_attribute("version").set_value(kVersion);
  if (profile_.sendsSource) root.append_attribute("src").set_value("windows");
  pugi::xml_node head = root.append_child("request_head");
  head.append_attribute("user_name").set_value(WireText(user_).c_str());
  head.append_attribute("password").set_value(WireText(password_).c_str());
  if (profile_.sendsPassport) head.append_attribute("passport").set_value(WireText(passport_).c_str());
  head.append_attribute("req_sequence").set_value(++requestSequence_);
  head.append_child("host_id").text().set(WireText(hostId_).c_str());
  return root;
}

void CSoapFrame::LogRequest(const std::string& function, pugi::xml_node payload) const {
  if (!LogWanted(CLogger::kInfo)) return;
  LogText(CLogger::kInfo, function.c_str(), "request:" + MaskSecrets(SerializePayload(payload)));
}

void CSoapFrame::NoAnswer(int error, const std::string& text) {
  lastError_ = error;
  lastErrorText_ = text;
}

pugi::xml_node CSoapFrame::Send(pugi::xml_node payload, CSoapAnswer& answer,
                                const std::vector<SoapAttachment>& attachments) {
  if (!transport_) {
    NoAnswer(kSoapNotReady, "client not initialised");
    return {};
  }
  const SoapRequestBody request = EncodeRequest(SerializePayload(payload), attachments);
  HttpReply reply;
  std::string error;
  const int code = transport_->Post(endpoint_, request.contentType, request.body, reply, error);
  if (code != CURLE_OK) {
    NoAnswer(code == CURLE_ABORTED_BY_CALLBACK ? kSoapStopped : kSoapTransportError, error);
    return {};
  }
  if (reply.status != 200) {
    // A fault's own words, when the error answer carries one, say more.
    std::string fault;
    CSoapAnswer scratch;
    scratch.Decode(std::move(reply.body), reply.contentType, fault);
    const bool isFault = fault.compare(0, 10, "SOAP Fault") == 0;
    NoAnswer(kSoapHttpStatus, StrFormat("HTTP status %ld%s%s", reply.status, isFault ? ", " : "",
                                        isFault ? fault.c_str() : ""));
    return {};
  }
  if (!answer.Decode(std::move(reply.body), reply.contentType, error)) {
    NoAnswer(error.compare(0, 10, "SOAP Fault") == 0 ? kSoapFault : kSoapBadAnswer, error);
    return {};
  }
  return answer.Payload();
}

int CSoapFrame::ParseOmHead(pugi::xml_node response, std::string& result, pugi::xml_node& body) {
  const std::string function = Function("ParseOmHead");
  const char* fn = function.c_str();
  if (!response) {
    const std::string line = StrFormat(profile_.noAnswerFormat, lastError_, lastErrorText_.c_str());
    LogText(CLogger::kError, fn, line);
    if (profile_.keepsLastReason) reason_ = line;
    return 0;
  }
  if (LogWanted(CLogger::kInfo)) {
    LogText(CLogger::kInfo, fn, profile_.answerDump + MaskSecrets(SerializePayload(response)));
  }
  if (!PareseOmElementValue(response, "operation", nullptr, nullptr)) {
    LogText(CLogger::kError, fn, "Fail to get a element");
    return 0;
  }
  const char* version = response.attribute("version").value();
  if (std::string_view(version) != kVersion) {
    LogF(CLogger::kError, fn, "Mismatched VER %s with %s", version, kVersion);
    return 0;
  }
  const pugi::xml_node head = response.first_child();
  if (!head) {
    LogText(CLogger::kError, fn, "Fail to get a node HEAD");
    return 0;
  }
  if (!PareseOmElementValue(head, "response_head", nullptr, nullptr)) {
    LogText(CLogger::kError, fn, "Fail to get a element");
    return 0;
  }
  if (profile_.checksSequence) {
    const char* sequence = head.attribute("rsp_sequence").value();
    if (std::atoi(sequence) != requestSequence_) {
      LogF(CLogger::kError, fn, "Mismatched CSEQ %s with %d", sequence, requestSequence_);
      return 0;
    }
  }
  result = head.attribute("result").value();
  if (result == "OK") {
    reason_.clear();
    if (profile_.keepsLastReason) lastReason_.clear();
  } else {
    const pugi::xml_node reason = head.first_child();
    if (!reason) {
      LogText(CLogger::kError, fn, profile_.missingReasonText);
      return 0;
    }
    if (!PareseOmElementValue(reason, "reason", &reason_, nullptr)) {
      LogText(CLogger::kError, fn, "Fail to get a element");
      return 0;
    }
    if (profile_.keepsLastReason) lastReason_ = reason_;
    LogF(CLogger::kInfo, fn, "Return %s for %s", result.c_str(), reason_.c_str());
  }
  body = head.next_sibling();
  return 1;
}

int CSoapFrame::PareseOmElementValue(pugi::xml_node node, const char* name, std::string* text,
                                     pugi::xml_node* element) {
  const std::string function = Function("PareseOmElementValue");
  if (!node || node.type() != pugi::node_element) {
    const char* format = !node && profile_.nullNodeFormat ? profile_.nullNodeFormat : profile_.notElementFormat;
    LogF(CLogger::kError, function.c_str(), format, name);
    return 0;
  }
  const std::string local(LocalName(node.name()));
  if (local != name) {
    LogF(CLogger::kError, function.c_str(), profile_.mismatchFormat, local.c_str(), name);
    return 0;
  }
  if (text) *text = node.child_value();
  if (element) *element = node;
  return 1;
}

int CSoapFrame::Call(const Operation& operation, const BodyBuilder& fillBody, std::string& result,
                     CSoapAnswer& answer, pugi::xml_node& body) {
  const std::string function = Function(operation.method);
  pugi::xml_document request;
  pugi::xml_node payload = BuildOmHead(request, operation.name);
  std::vector<SoapAttachment> attachments;
  const pugi::xml_node bodyElement = payload.append_child(operation.name);
  if (fillBody) fillBody(bodyElement, attachments);
  LogRequest(function, payload);

  const pugi::xml_node response = Send(payload, answer, attachments);
  if (!ParseOmHead(response, result, body)) {
    LogText(CLogger::kError, function.c_str(), "Fail to parse the responsed head");
    return 0;
  }
  if (result != "OK") {
    LogF(operation.nonOkLevel, function.c_str(), operation.nonOkFormat, result.c_str(), reason_.c_str());
    return 0;
  }
  return 1;
}
