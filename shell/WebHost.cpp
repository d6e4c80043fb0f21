#include "shell/WebHost.h"

std::string WebHost(const std::string& authServer) {
  std::string scheme = "http://";
  std::string rest = authServer;
  const std::size_t mark = authServer.find("://");
  if (mark != std::string::npos) {
    scheme = authServer.substr(0, mark + 3);
    rest = authServer.substr(mark + 3);
  }
  const std::string host = rest.substr(0, rest.find_first_of("/?#"));
  if (host.empty()) return "";
  return scheme + host;
}

std::string WebPage(const std::string& authServer, const char* path) {
  const std::string host = WebHost(authServer);
  return host.empty() ? std::string() : host + path;
}
