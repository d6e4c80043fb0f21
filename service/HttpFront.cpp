#include "service/HttpFront.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <chrono>
#include <cstring>

#include "foundation/Format.h"
#include "service/AuthServlet.h"

struct CHttpFront::Pending {
  MHD_Connection* connection = nullptr;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::string body;
  size_t received = 0;   // body bytes, kept or not
  bool tooLarge = false;
};

namespace {

constexpr unsigned kConnectionTimeoutSeconds = 120;

const char* Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

HttpAnswer Text(int status, const std::string& text) {
  HttpAnswer answer;
  answer.status = status;
  answer.body = text + "\n";
  return answer;
}

// The answer's body is handed over, not copied (a chunk answer is 4 MiB);
// the response frees it once sent.
MHD_Result Send(MHD_Connection* connection, HttpAnswer& answer) {
  auto* body = new std::string(std::move(answer.body));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      body->size(), body->data(), [](void* owned) { delete static_cast<std::string*>(owned); }, body);
  if (!response) {
    delete body;
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
  for (const auto& [name, value] : answer.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result HandleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* /*version*/, const char* upload, size_t* uploadSize, void** context) {
  auto& front = *static_cast<CHttpFront*>(cls);
  auto* pending = static_cast<CHttpFront::Pending*>(*context);
  const size_t limit = front.parts().options.maxBody;
  if (!pending) {
    pending = new CHttpFront::Pending;
    pending->connection = connection;
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    const unsigned long long announced = length ? std::strtoull(length, nullptr, 10) : 0;
    pending->tooLarge = announced > limit;
    // The body is read into room of its announced length: growing it by
    // appends would copy a 4 MiB chunk several times.
    if (!pending->tooLarge && announced > 0) pending->body.reserve(static_cast<size_t>(announced));
    *context = pending;
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    pending->received += *uploadSize;
    if (!pending->tooLarge && pending->body.size() + *uploadSize <= limit) {
      pending->body.append(upload, *uploadSize);
    } else {
      pending->tooLarge = true;
      std::string().swap(pending->body);
    }
    *uploadSize = 0;
    // A sender that never stops is cut off rather than read forever.
    return pending->received > 4 * limit + 1024 * 1024 ? MHD_NO : MHD_YES;
  }
  RequestNote note;
  HttpAnswer answer;
  try {
    answer = front.Route(method, url, *pending, note);
  } catch (const std::exception& failure) {
    answer = Text(500, "internal error");
    note.detail = failure.what();
  }
  front.LogRequest(method, url, *pending, note, answer);
  return Send(connection, answer);
}

void RequestDone(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<CHttpFront::Pending*>(*context);
  *context = nullptr;
}

}  // namespace

CHttpFront::CHttpFront(ServiceParts& parts, Endpoints endpoints, CLogger& log)
    : parts_(parts), endpoints_(endpoints), log_(log) {}

CHttpFront::~CHttpFront() { Stop(); }

bool CHttpFront::Start(std::string& error) {
  const ServiceOptions& options = parts_.options;
  sockaddr_in address4{};
  sockaddr_in6 address6{};
  sockaddr* address = nullptr;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
  if (inet_pton(AF_INET, options.bind.c_str(), &address4.sin_addr) == 1) {
    address4.sin_family = AF_INET;
    address4.sin_port = htons(static_cast<uint16_t>(options.port));
    address = reinterpret_cast<sockaddr*>(&address4);
  } else if (inet_pton(AF_INET6, options.bind.c_str(), &address6.sin6_addr) == 1) {
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(static_cast<uint16_t>(options.port));
    address = reinterpret_cast<sockaddr*>(&address6);
    flags |= MHD_USE_IPv6;
  } else {
    error = "not an IP address: " + options.bind;
    return false;
  }
  daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, HandleRequest, this, MHD_OPTION_SOCK_ADDR, address,
                             MHD_OPTION_THREAD_POOL_SIZE, options.threads, MHD_OPTION_NOTIFY_COMPLETED, RequestDone,
                             nullptr, MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
                             MHD_OPTION_END);
  if (!daemon_) {
    error = StrFormat("cannot listen on %s port %d", options.bind.c_str(), options.port);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : options.port;
  return true;
}

void CHttpFront::Stop() {
  if (daemon_) MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
}

std::string CHttpFront::Address() const {
  const std::string& bind = parts_.options.bind;
  return (bind.find(':') != std::string::npos ? "[" + bind + "]" : bind) + ":" + std::to_string(port_);
}

HttpAnswer CHttpFront::Route(const std::string& method, const std::string& url, Pending& request,
                             RequestNote& note) {
  if (url == kLoginPath) return ServeLogin({request.connection, method, Address()}, parts_, nonces_, note);
  if (url == kVersionPath) return Text(200, parts_.options.setupName);
  const CSoapEndpoint* endpoint = url == kBackPath          ? &endpoints_.back
                                  : url == kTransmitterPath ? &endpoints_.transmitter
                                  : url == kHeartbeatPath   ? &endpoints_.heartbeat
                                                            : nullptr;
  if (!endpoint) return Text(404, "no such page");
  if (method != "POST") return Text(405, "SOAP endpoints take POST");
  if (endpoint == &endpoints_.transmitter) {
    parts_.accounts.AddToCounter("transmitter_bytes_received", static_cast<int64_t>(request.received));
    parts_.accounts.AddToCounter("transmitter_requests", 1);
  }
  if (request.tooLarge) {
    note.detail = StrFormat("request body of %zu bytes refused", request.received);
    return CSoapEndpoint::Refuse(note);
  }
  return endpoint->Serve(std::move(request.body), Header(request.connection, MHD_HTTP_HEADER_CONTENT_TYPE), note);
}

void CHttpFront::LogRequest(const std::string& method, const std::string& url, const Pending& request,
                            const RequestNote& note, const HttpAnswer& answer) {
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                             request.start);
  std::string line = StrFormat("%s %s %d op=%s user=%s result=%s in=%zu out=%zu %lldms", method.c_str(), url.c_str(),
                               answer.status, note.operation.c_str(), note.user.c_str(),
                               note.outcome.empty() ? "-" : note.outcome.c_str(), request.received,
                               answer.body.size(), static_cast<long long>(elapsed.count()));
  if (!note.detail.empty()) line += " (" + note.detail + ")";
  // Names come from the request; a line feed in one must not start a
  // forged line of the log.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  log_.Log(CLogger::kInfo, "CHttpFront::Request", line);
}
