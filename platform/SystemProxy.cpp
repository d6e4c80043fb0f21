#include "platform/SystemProxy.h"

#include <cstdlib>

namespace platform {
namespace {

std::string HostAndPort(std::string url) {
  if (const auto scheme = url.find("://"); scheme != std::string::npos) url.erase(0, scheme + 3);
  if (const auto path = url.find('/'); path != std::string::npos) url.erase(path);
  if (const auto at = url.rfind('@'); at != std::string::npos) url.erase(0, at + 1);
  return url;
}

}  // namespace

bool SystemProxy(std::string& address) {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string hostPort = HostAndPort(value);
    if (hostPort.empty()) continue;
    address = hostPort;
    return true;
  }
  return false;
}

}  // namespace platform
