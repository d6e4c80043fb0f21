#pragma once
// A scripted HTTP server on loopback (ephemeral port) for protocol tests: it
// answers each request with the next reply of its script and records every
// request it received. A reply may demand HTTP Digest credentials, wait
// before answering, drop the connection or never answer (until the server
// is destroyed).
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ScriptedReply {
  enum class Action { kAnswer, kDrop, kHang };
  struct Digest {
    std::string realm;
    std::string user;
    std::string password;
  };

  int status = 200;
  std::string contentType = "application/soap+xml;charset=UTF-8";  // "" sends none
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  int delayMs = 0;
  Action action = Action::kAnswer;
  // When set, a request without valid Digest credentials for this user gets
  // 401 with a challenge, and this reply stays first in the script.
  std::optional<Digest> digest;
};

struct ReceivedRequest {
  std::string method;
  std::string url;  // the request target as sent (absolute when sent to a proxy)
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The first header of that name, compared without letter case; "" when absent.
  std::string Header(const std::string& name) const;
};

class ScriptedServer {
 public:
  ScriptedServer();
  ~ScriptedServer();  // releases requests that were never answered
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const;
  // "http://127.0.0.1:<port>" + path
  std::string Url(const std::string& path) const;

  void Push(ScriptedReply reply);
  // The reply once the script is used up (at start: status 500, "script exhausted").
  void SetFallback(ScriptedReply reply);

  std::vector<ReceivedRequest> Requests() const;
  std::size_t RequestCount() const;
  // True as soon as `count` requests arrived; false after `timeoutMs`.
  bool WaitForRequests(std::size_t count, int timeoutMs) const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};
