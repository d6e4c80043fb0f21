#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <stdexcept>

struct ScriptedServer::State {
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::deque<ScriptedReply> script;
  ScriptedReply fallback;
  std::vector<ReceivedRequest> received;
  bool stopping = false;
  std::string nonceSeed;
  MHD_Daemon* daemon = nullptr;
  int port = 0;
};

namespace {

using State = ScriptedServer::State;

struct Pending {
  std::string body;
};

MHD_Result CollectHeader(void* target, MHD_ValueKind, const char* name, const char* value) {
  static_cast<std::vector<std::pair<std::string, std::string>>*>(target)->emplace_back(name, value ? value : "");
  return MHD_YES;
}

// Waits `milliseconds` (forever when negative) or until the server stops.
void WaitUnlessStopping(State& state, int milliseconds) {
  std::unique_lock<std::mutex> lock(state.mutex);
  const auto stopping = [&state] { return state.stopping; };
  if (milliseconds < 0) {
    state.changed.wait(lock, stopping);
  } else {
    state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds), stopping);
  }
}

MHD_Result Challenge(MHD_Connection* connection, const ScriptedReply::Digest& digest, bool stale) {
  static const char kDenied[] = "denied";
  MHD_Response* response =
      MHD_create_response_from_buffer(sizeof(kDenied) - 1, const_cast<char*>(kDenied), MHD_RESPMEM_PERSISTENT);
  const MHD_Result queued = MHD_queue_auth_fail_response2(connection, digest.realm.c_str(), "vessa-opaque", response,
                                                          stale ? MHD_YES : MHD_NO, MHD_DIGEST_ALG_MD5);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result Answer(MHD_Connection* connection, const ScriptedReply& reply) {
  MHD_Response* response = MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()),
                                                           MHD_RESPMEM_MUST_COPY);
  if (!reply.contentType.empty()) MHD_add_response_header(response, "Content-Type", reply.contentType.c_str());
  for (const auto& [name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
  MHD_destroy_response(response);
  return queued;
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

  ReceivedRequest request{method, url, {}, std::move(pending->body)};
  MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &request.headers);
  ScriptedReply reply;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.received.push_back(request);
    reply = state.script.empty() ? state.fallback : state.script.front();
  }
  state.changed.notify_all();

  if (reply.digest) {
    const int verdict = MHD_digest_auth_check2(connection, reply.digest->realm.c_str(), reply.digest->user.c_str(),
                                               reply.digest->password.c_str(), 300, MHD_DIGEST_ALG_MD5);
    if (verdict != MHD_YES) return Challenge(connection, *reply.digest, verdict == MHD_INVALID_NONCE);
  }
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.script.empty()) state.script.pop_front();
  }
  switch (reply.action) {
    case ScriptedReply::Action::kDrop:
      return MHD_NO;
    case ScriptedReply::Action::kHang:
      WaitUnlessStopping(state, -1);
      return MHD_NO;
    case ScriptedReply::Action::kAnswer:
      break;
  }
  if (reply.delayMs > 0) WaitUnlessStopping(state, reply.delayMs);
  return Answer(connection, reply);
}

void RequestDone(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<Pending*>(*context);
  *context = nullptr;
}

}  // namespace

std::string ReceivedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return "";
}

ScriptedServer::ScriptedServer() : state_(std::make_unique<State>()) {
  state_->fallback.status = 500;
  state_->fallback.contentType = "text/plain";
  state_->fallback.body = "script exhausted";
  std::mt19937 random{std::random_device{}()};
  for (int i = 0; i < 32; ++i) state_->nonceSeed += static_cast<char>('a' + random() % 26);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  state_->daemon = MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, 0, nullptr, nullptr, HandleRequest,
      state_.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address), MHD_OPTION_NOTIFY_COMPLETED,
      RequestDone, nullptr, MHD_OPTION_DIGEST_AUTH_RANDOM, state_->nonceSeed.size(), state_->nonceSeed.data(),
      MHD_OPTION_NONCE_NC_SIZE, 300u, MHD_OPTION_END);
  if (!state_->daemon) throw std::runtime_error("the scripted server cannot start");
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_BIND_PORT);
  state_->port = info ? info->port : 0;
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->changed.notify_all();
  MHD_stop_daemon(state_->daemon);
}

int ScriptedServer::Port() const { return state_->port; }

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}

void ScriptedServer::Push(ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->script.push_back(std::move(reply));
}

void ScriptedServer::SetFallback(ScriptedReply reply) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->fallback = std::move(reply);
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->received;
}

std::size_t ScriptedServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->received.size();
}

bool ScriptedServer::WaitForRequests(std::size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [this, count] { return state_->received.size() >= count; });
}
