#include "service/SoapExchange.h"

#include <sstream>

namespace {

constexpr const char* kVersion = "version01";

}  // namespace

int ReadSoapCall(pugi::xml_node payload, SoapCall& call) {
  if (LocalName(payload.name()) != "operation") return kReasonFormat;
  call.operation = payload.attribute("name").value();
  const pugi::xml_node head = payload.first_child();
  if (LocalName(head.name()) == "request_head") call.sequence = head.attribute("req_sequence").value();
  if (std::string_view(payload.attribute("version").value()) != kVersion || call.operation.empty()) {
    return kReasonFormat;
  }
  if (head.type() != pugi::node_element || LocalName(head.name()) != "request_head") return kReasonFormat;
  call.user = head.attribute("user_name").value();
  call.password = head.attribute("password").value();
  call.passport = head.attribute("passport").value();
  call.hostId = head.child_value("host_id");
  call.body = head.next_sibling();
  if (call.body.type() != pugi::node_element || LocalName(call.body.name()) != call.operation) return kReasonFormat;
  return 0;
}

CSoapReply::CSoapReply(const std::string& operation, const std::string& sequence) {
  pugi::xml_node root = document_.append_child("operation");
  const std::string answer = operation + "_rsp";
  root.append_attribute("name").set_value(operation.empty() ? "" : answer.c_str());
  root.append_attribute("version").set_value(kVersion);
  head_ = root.append_child("response_head");
  // Only a number is echoed: the client compares it as one.
  head_.append_attribute("rsp_sequence").set_value(sequence.find_first_not_of("0123456789") == std::string::npos
                                                       ? sequence.c_str()
                                                       : "");
  head_.append_attribute("result").set_value("OK");
  if (!operation.empty()) body_ = root.append_child(answer.c_str());
}

void CSoapReply::Fail(int reason) {
  reason_ = reason;
  head_.attribute("result").set_value("FAIL");
  head_.remove_children();
  head_.append_child("reason").text().set(reason);
  if (body_) {  // a failed answer carries an empty body element
    const std::string name = body_.name();
    pugi::xml_node root = body_.parent();
    root.remove_child(body_);
    body_ = root.append_child(name.c_str());
  }
}

void CSoapReply::Attach(pugi::xml_node element, std::vector<unsigned char> bytes) {
  attachmentIds_.push_back(AddXopInclude(element, static_cast<int>(attachmentIds_.size())));
  attachmentData_.push_back(std::move(bytes));
}

SoapRequestBody CSoapReply::Encode() const {
  std::ostringstream text;
  document_.document_element().print(text, "", pugi::format_raw);
  std::vector<SoapAttachment> attachments;
  for (size_t i = 0; i < attachmentIds_.size(); ++i) {
    attachments.push_back({attachmentIds_[i], attachmentData_[i].data(), attachmentData_[i].size()});
  }
  return EncodeAnswer(text.str(), attachments);
}

void SetAttribute(pugi::xml_node node, const char* name, const std::string& value) {
  node.append_attribute(name).set_value(value.c_str());
}

void SetAttribute(pugi::xml_node node, const char* name, long long value) {
  node.append_attribute(name).set_value(value);
}
