#include "service/SoapEndpoint.h"

#include <strings.h>

#include <new>

#include "service/ServiceDb.h"

namespace {

constexpr int kReasonDatabase = 8;
constexpr int kReasonMemory = 13;
constexpr int kReasonFlow = 24;

HttpAnswer Encoded(const CSoapReply& reply) {
  SoapRequestBody encoded = reply.Encode();
  HttpAnswer answer;
  answer.contentType = encoded.contentType;
  answer.body = std::move(encoded.body);
  return answer;
}

}  // namespace

HttpAnswer CSoapEndpoint::Serve(std::string body, const std::string& contentType, RequestNote& note) const {
  CSoapReceived message;
  SoapCall call;
  std::string error;
  int reason = message.Decode(std::move(body), contentType, error) ? ReadSoapCall(message.Payload(), call)
                                                                    : kReasonFormat;
  call.message = &message;
  note.operation = call.operation;
  note.user = call.user;
  CSoapReply reply(call.operation, call.sequence);
  if (!reason) {
    Run(call, reply, note);
  } else {
    reply.Fail(reason);
  }
  note.outcome = reply.Reason() ? "reason " + std::to_string(reply.Reason()) : "OK";
  if (note.detail.empty()) note.detail = reply.Detail();
  if (note.detail.empty()) note.detail = error;
  return Encoded(reply);
}

HttpAnswer CSoapEndpoint::Refuse(RequestNote& note) {
  CSoapReply reply("", "");
  reply.Fail(kReasonFormat);
  note.outcome = "reason 9";
  return Encoded(reply);
}

void CSoapEndpoint::Run(const SoapCall& call, CSoapReply& reply, RequestNote& note) const {
  const SoapOperation* operation = nullptr;
  for (const SoapOperation& candidate : operations_) {
    if (call.operation == candidate.name) operation = &candidate;
  }
  if (!operation) return reply.Fail(kReasonFormat);
  try {
    Caller caller;
    const int reason = Authenticate(*operation, call, caller);
    if (reason) return reply.Fail(reason);
    operation->handle(caller, call, reply);
  } catch (const CDbError& failure) {
    note.detail = failure.what();
    reply.Fail(failure.DiskFull() ? kReasonStorageFull : kReasonDatabase);
  } catch (const std::bad_alloc&) {
    reply.Fail(kReasonMemory);
  } catch (const std::exception& failure) {
    note.detail = failure.what();
    reply.Fail(kReasonFlow);
  }
}

int CSoapEndpoint::Authenticate(const SoapOperation& operation, const SoapCall& call, Caller& caller) const {
  const bool known = accounts_.FindUser(call.user, caller.user);
  if (operation.needsPassport && (!known || !accounts_.PassportValid(caller.user.id, call.passport))) return 29;
  if (!known || strcasecmp(caller.user.headDigest.c_str(), call.password.c_str()) != 0) return 6;
  if (!operation.needsHost) return 0;
  const int64_t hostUser = accounts_.HostUser(call.hostId);
  if (!hostUser) return 2;
  if (hostUser != caller.user.id) return 28;
  caller.hostId = call.hostId;
  return 0;
}
