#pragma once
// Answers for the scripted server and readers of the requests it captured,
// shared by the protocol tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "protocol/SoapMessage.h"
#include "tests/support/ScriptedServer.h"

inline std::string Envelope(const std::string& payload) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") +
         "<soapenv:Envelope xmlns:soapenv=\"http://www.w3.org/2003/05/soap-envelope\"><soapenv:Body>" + payload +
         "</soapenv:Body></soapenv:Envelope>";
}

inline ScriptedReply SoapReply(const std::string& payload) {
  ScriptedReply reply;
  reply.body = Envelope(payload);
  return reply;
}

// An answer payload: operation element, response head ("OK" unless a
// result and reason are given), then the body.
inline std::string Answer(const std::string& operation, const std::string& body, const std::string& headExtra = "",
                          const std::string& result = "OK", const std::string& reason = "") {
  std::string head = "<response_head result=\"" + result + "\"" + headExtra + ">";
  if (!reason.empty()) head += "<reason>" + reason + "</reason>";
  head += "</response_head>";
  return "<operation name=\"" + operation + "\" version=\"version01\">" + head + body + "</operation>";
}

inline ScriptedReply Status(int status, const std::string& body = "", const std::string& type = "text/plain") {
  ScriptedReply reply;
  reply.status = status;
  reply.body = body;
  reply.contentType = type;
  return reply;
}

inline ScriptedReply Action(ScriptedReply::Action action) {
  ScriptedReply reply;
  reply.action = action;
  return reply;
}

// The payload of a captured request, decoded as the service would.
struct CapturedPayload {
  std::shared_ptr<CSoapAnswer> message = std::make_shared<CSoapAnswer>();
  pugi::xml_node payload;
  std::string contentType;
};

inline CapturedPayload DecodeRequest(const ReceivedRequest& request) {
  CapturedPayload captured;
  captured.contentType = request.Header("Content-Type");
  std::string error;
  EXPECT_TRUE(captured.message->Decode(request.body, captured.contentType, error)) << error;
  captured.payload = captured.message->Payload();
  return captured;
}

// Attribute names and values of an element, in document order.
inline std::vector<std::pair<std::string, std::string>> Attributes(pugi::xml_node node) {
  std::vector<std::pair<std::string, std::string>> out;
  for (pugi::xml_attribute a : node.attributes()) out.emplace_back(a.name(), a.value());
  return out;
}

using AttributeList = std::vector<std::pair<std::string, std::string>>;
