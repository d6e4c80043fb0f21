#pragma once
// A proxy on loopback in front of a real HTTP server (the service under
// test): every request goes on to it unchanged, except that its Host header
// names the proxy (so the service hands out addresses on the proxy), and
// every answer comes back through the mutation, which may change its status,
// headers and body. Without a mutation the proxy only passes things on.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ProxiedExchange {
  std::string method;
  std::string url;
  std::string requestBody;
  // The answer; `payload` names its SOAP payload element ("file_list_rsp"),
  // "" for an answer that is no SOAP answer.
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string payload;
};

class MutatingProxy {
 public:
  // Returns true when it changed the exchange.
  using Mutation = std::function<bool(ProxiedExchange&)>;

  explicit MutatingProxy(int upstreamPort);
  ~MutatingProxy();
  MutatingProxy(const MutatingProxy&) = delete;
  MutatingProxy& operator=(const MutatingProxy&) = delete;

  int Port() const;
  // "http://127.0.0.1:<port>" + path
  std::string Url(const std::string& path) const;
  void SetMutation(Mutation mutation);
  // How many answers the mutation changed since it was set.
  std::size_t Mutated() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};
