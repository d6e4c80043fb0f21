#include "tests/support/MutatingProxy.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>

#include <mutex>
#include <regex>
#include <stdexcept>

struct MutatingProxy::State {
  int upstreamPort = 0;
  int port = 0;
  MHD_Daemon* daemon = nullptr;
  mutable std::mutex mutex;
  Mutation mutation;
  std::size_t mutated = 0;
};

namespace {

using State = MutatingProxy::State;

struct Pending {
  std::string body;
};

// Headers that describe one connection or one body's framing: each hop makes its own.
bool IsHopHeader(const std::string& name) {
  for (const char* hop : {"Host", "Content-Length", "Connection", "Transfer-Encoding", "Expect", "Keep-Alive"}) {
    if (strcasecmp(name.c_str(), hop) == 0) return true;
  }
  return false;
}

MHD_Result CollectHeader(void* target, MHD_ValueKind, const char* name, const char* value) {
  if (!IsHopHeader(name)) {
    static_cast<std::vector<std::string>*>(target)->push_back(std::string(name) + ": " + (value ? value : ""));
  }
  return MHD_YES;
}

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Answer header lines; a new status line (after "100 Continue") starts them over.
size_t AppendHeader(char* data, size_t size, size_t count, void* target) {
  auto& headers = *static_cast<std::vector<std::pair<std::string, std::string>>*>(target);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.rfind("HTTP/", 0) == 0) {
    headers.clear();
  } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    std::string name = line.substr(0, colon);
    if (!IsHopHeader(name)) headers.emplace_back(std::move(name), std::move(value));
  }
  return size * count;
}

// Passes the request on; false when the server could not be reached.
bool Forward(const State& state, MHD_Connection* connection, ProxiedExchange& exchange) {
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  std::vector<std::string> lines;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &lines);
  curl_slist* headers = nullptr;
  for (const std::string& line : lines) headers = curl_slist_append(headers, line.c_str());
  headers = curl_slist_append(headers, ("Host: 127.0.0.1:" + std::to_string(state.port)).c_str());
  headers = curl_slist_append(headers, "Expect:");
  const std::string url = "http://127.0.0.1:" + std::to_string(state.upstreamPort) + exchange.url;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, exchange.method.c_str());
  if (exchange.method != "GET" && exchange.method != "HEAD") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, exchange.requestBody.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(exchange.requestBody.size()));
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, AppendHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange.headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 300L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  const bool done = curl_easy_perform(curl) == CURLE_OK;
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  exchange.status = static_cast<int>(status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return done;
}

std::string PayloadOf(const std::string& body) {
  static const std::regex kPayload("<([A-Za-z_]+_rsp)[\\s/>]");
  std::smatch match;
  return std::regex_search(body, match, kPayload) ? match[1].str() : std::string();
}

MHD_Result HandleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* /*version*/, const char* upload, size_t* uploadSize, void** context) {
  State& state = *static_cast<State*>(cls);
  auto* pending = static_cast<Pending*>(*context);
  if (!pending) {
    *context = new Pending;
    return MHD_YES;
  }
  if (*uploadSize > 0) {
    pending->body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  ProxiedExchange exchange;
  exchange.method = method;
  exchange.url = url;
  exchange.requestBody = std::move(pending->body);
  if (!Forward(state, connection, exchange)) return MHD_NO;  // the client sees the connection end
  exchange.payload = PayloadOf(exchange.body);
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.mutation && state.mutation(exchange)) ++state.mutated;
  }
  MHD_Response* response =
      MHD_create_response_from_buffer(exchange.body.size(), exchange.body.data(), MHD_RESPMEM_MUST_COPY);
  for (const auto& [name, value] : exchange.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(exchange.status), response);
  MHD_destroy_response(response);
  return queued;
}

void RequestDone(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*context);
  *context = nullptr;
}

}  // namespace

MutatingProxy::MutatingProxy(int upstreamPort) : state_(std::make_unique<State>()) {
  state_->upstreamPort = upstreamPort;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  state_->daemon = MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr,
                                    nullptr, HandleRequest, state_.get(), MHD_OPTION_SOCK_ADDR,
                                    reinterpret_cast<sockaddr*>(&address), MHD_OPTION_NOTIFY_COMPLETED, RequestDone,
                                    nullptr, MHD_OPTION_END);
  if (!state_->daemon) throw std::runtime_error("the proxy cannot start");
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  state_->port = info ? info->port : 0;
}

MutatingProxy::~MutatingProxy() { MHD_stop_daemon(state_->daemon); }

int MutatingProxy::Port() const { return state_->port; }

std::string MutatingProxy::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

void MutatingProxy::SetMutation(Mutation mutation) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->mutation = std::move(mutation);
  state_->mutated = 0;
}

std::size_t MutatingProxy::Mutated() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->mutated;
}
