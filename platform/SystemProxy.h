#pragma once
// The system's Internet proxy setting: on Linux, the proxy environment values.
#include <string>

namespace platform {

// The first non-empty of http_proxy, HTTP_PROXY and all_proxy, reduced to
// "host:port" (a leading "scheme://", user information and a trailing path
// are dropped). False when none is set, meaning "connect directly".
bool SystemProxy(std::string& address);

}  // namespace platform
