#pragma once
// The HTTP side of the service on libmicrohttpd (a pool of request
// threads): every path on one port, request bodies capped (a larger one is
// read to its end, dropped, and answered with reason 9), one log line per
// request.
#include <memory>
#include <string>

#include "foundation/Logger.h"
#include "service/DigestAuth.h"
#include "service/ServiceParts.h"
#include "service/SoapEndpoint.h"

struct MHD_Daemon;

class CHttpFront {
 public:
  struct Endpoints {
    const CSoapEndpoint& back;
    const CSoapEndpoint& transmitter;
    const CSoapEndpoint& heartbeat;
  };

  CHttpFront(ServiceParts& parts, Endpoints endpoints, CLogger& log);
  ~CHttpFront();
  CHttpFront(const CHttpFront&) = delete;
  CHttpFront& operator=(const CHttpFront&) = delete;

  // Listens on the options' address and port. False with `error`.
  bool Start(std::string& error);
  void Stop();
  int Port() const { return port_; }
  // "127.0.0.1:8080" or "[::1]:8080".
  std::string Address() const;

  struct Pending;  // one request being received
  HttpAnswer Route(const std::string& method, const std::string& url, Pending& request, RequestNote& note);
  void LogRequest(const std::string& method, const std::string& url, const Pending& request, const RequestNote& note,
                  const HttpAnswer& answer);
  ServiceParts& parts() { return parts_; }

 private:
  ServiceParts& parts_;
  Endpoints endpoints_;
  CLogger& log_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
  CDigestNonces nonces_{std::chrono::minutes(5), 10000};
};
