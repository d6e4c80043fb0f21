#pragma once
// One SOAP endpoint: decodes a request, checks who sends it, runs the
// operation and encodes the answer. Anything malformed is answered with
// reason 9; a database failure with reason 8. Never throws.
//
// Credentials, checked in this order:
//   passport (back server)  29 unknown, expired, or another user's
//   user and password       6  (the head carries the password's digest form)
//   host id                 2  unknown, 28 another user's
#include <functional>
#include <string>
#include <vector>

#include "service/Accounts.h"
#include "service/HttpAnswer.h"
#include "service/ServiceParts.h"
#include "service/SoapExchange.h"

struct SoapOperation {
  const char* name;
  bool needsPassport;
  bool needsHost;
  std::function<void(const Caller&, const SoapCall&, CSoapReply&)> handle;
};

// An operation whose handler works on the service's state.
using PartsHandler = void (*)(ServiceParts& parts, const Caller& caller, const SoapCall& call, CSoapReply& reply);
inline SoapOperation BindOperation(const char* name, bool needsPassport, bool needsHost, ServiceParts& parts,
                                   PartsHandler handler) {
  return {name, needsPassport, needsHost,
          [&parts, handler](const Caller& caller, const SoapCall& call, CSoapReply& reply) {
            handler(parts, caller, call, reply);
          }};
}

class CSoapEndpoint {
 public:
  CSoapEndpoint(CAccounts& accounts, std::vector<SoapOperation> operations)
      : accounts_(accounts), operations_(std::move(operations)) {}

  HttpAnswer Serve(std::string body, const std::string& contentType, RequestNote& note) const;
  // The answer to a request that cannot be read at all: reason 9.
  static HttpAnswer Refuse(RequestNote& note);

 private:
  int Authenticate(const SoapOperation& operation, const SoapCall& call, Caller& caller) const;
  void Run(const SoapCall& call, CSoapReply& reply, RequestNote& note) const;

  CAccounts& accounts_;
  std::vector<SoapOperation> operations_;
};
