#pragma once
// The authentication servlet (/vorportal/LoginServlet): HTTP Digest (MD5)
// against the user table. Success: 200, a new passport in the cookie
// "ordanePassport", and the header
//   Set-Vessa: result=OK; back_server=http://HOST/axis2/services/vor_service_bs;
//              trs_server=http://HOST/...vor_service_trs; hb_server=http://HOST/...vor_service_hb;
// with HOST the address the client used. Anything else: a 401 challenge.
#include <string>

#include "service/DigestAuth.h"
#include "service/HttpAnswer.h"
#include "service/ServiceParts.h"

struct MHD_Connection;

constexpr const char* kBackPath = "/axis2/services/vor_service_bs";
constexpr const char* kTransmitterPath = "/axis2/services/vor_service_trs";
constexpr const char* kHeartbeatPath = "/axis2/services/vor_service_hb";
constexpr const char* kLoginPath = "/vorportal/LoginServlet";
constexpr const char* kVersionPath = "/vorportal/clientVersion";

struct LoginRequest {
  MHD_Connection* connection;
  std::string method;
  std::string ownAddress;  // "127.0.0.1:8080": stands in for a missing or odd Host header
};

HttpAnswer ServeLogin(const LoginRequest& request, ServiceParts& parts, CDigestNonces& nonces, RequestNote& note);
