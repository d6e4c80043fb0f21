#pragma once
// The proxy choice of the options dialog, as every service client receives it
// through SetProxy, and its resolution into a proxy to use.
#include <string>

struct ProxySetting {
  std::string mode;  // "HTTP", "SOCKS4", "SOCKS5", "浏览器设置" (local code page) or anything else: none
  std::string address;  // "host:port"
  std::string user;
  std::string password;
};

enum class ProxyKind { kNone, kHttp, kSocks4, kSocks5 };

// The proxy the setting asks for. "HTTP", "SOCKS4" and "SOCKS5" use the given
// address; the browser-settings mode takes the system's proxy instead
// (CUtil::GetIEProxySet) and asks for an HTTP proxy. kNone, with `address`
// untouched, for any other mode and when the system has no proxy.
ProxyKind ResolveProxy(const ProxySetting& setting, std::string& address);
