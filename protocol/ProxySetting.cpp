#include "protocol/ProxySetting.h"

#include "foundation/Util.h"

namespace {

// The mode is held as local text; the name is written here in UTF-8.
bool IsBrowserSettingsMode(const std::string& mode) {
  std::string name = "浏览器设置";
  CUtil::Utf8ToAnsi(name);
  return mode == name;
}

}  // namespace

ProxyKind ResolveProxy(const ProxySetting& setting, std::string& address) {
  if (setting.mode == "HTTP") {
    address = setting.address;
    return ProxyKind::kHttp;
  }
  if (setting.mode == "SOCKS4") {
    address = setting.address;
    return ProxyKind::kSocks4;
  }
  if (setting.mode == "SOCKS5") {
    address = setting.address;
    return ProxyKind::kSocks5;
  }
  if (IsBrowserSettingsMode(setting.mode)) {
    std::string system;
    if (!CUtil::GetIEProxySet(system)) return ProxyKind::kNone;
    address = system;
    return ProxyKind::kHttp;
  }
  return ProxyKind::kNone;
}
