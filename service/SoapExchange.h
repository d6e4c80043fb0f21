#pragma once
// One SOAP exchange from the service's side: the request read from its
// decoded payload, and the answer built around the reply body.
//
//   request  <operation name="op" version="version01">
//              <request_head user_name password [passport] req_sequence><host_id/></request_head>
//              <op .../></operation>
//   answer   <operation name="op_rsp" version="version01">
//              <response_head rsp_sequence result="OK"|"FAIL">[<reason>n</reason>]</response_head>
//              <op_rsp .../></operation>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "protocol/SoapMessage.h"

constexpr int kReasonFormat = 9;        // request format error
constexpr int kReasonStorageFull = 25;  // the storage can take no more: its disk is full

struct SoapCall {
  std::string operation;
  std::string user;
  std::string password;
  std::string passport;
  std::string hostId;
  std::string sequence;  // req_sequence as sent; "" when unreadable
  pugi::xml_node body;   // the element named after the operation
  CSoapReceived* message = nullptr;  // attachments of the request
};

// 0, or kReasonFormat when the payload is no request of this protocol (the
// fields read before the fault stay filled).
int ReadSoapCall(pugi::xml_node payload, SoapCall& call);

class CSoapReply {
 public:
  // An "OK" answer to `operation` (may be "" when the request was unreadable).
  CSoapReply(const std::string& operation, const std::string& sequence);

  pugi::xml_node Body() { return body_; }
  // The answer becomes a failure with this reason code.
  void Fail(int reason);
  int Reason() const { return reason_; }
  // What the service's log should say of the failure beside its reason.
  void Explain(std::string detail) { detail_ = std::move(detail); }
  const std::string& Detail() const { return detail_; }
  // `element` carries `bytes` as an MTOM attachment.
  void Attach(pugi::xml_node element, std::vector<unsigned char> bytes);
  // The HTTP body and its content type: plain SOAP, or MTOM with attachments.
  SoapRequestBody Encode() const;

 private:
  pugi::xml_document document_;
  pugi::xml_node head_;
  pugi::xml_node body_;
  int reason_ = 0;
  std::string detail_;
  std::vector<std::vector<unsigned char>> attachmentData_;
  std::vector<std::string> attachmentIds_;
};

// Helpers for the bodies of answers.
void SetAttribute(pugi::xml_node node, const char* name, const std::string& value);
void SetAttribute(pugi::xml_node node, const char* name, long long value);
