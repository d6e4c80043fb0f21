#pragma once
// The proxy page's values and rules, apart from the widgets. Texts in the
// local code page; the configuration keeps the address as "host:port".
#include <string>

class CConfig;

namespace proxy {
// Control ids of the page.
constexpr int kUseBox = 1006;
constexpr int kTypeList = 1008;
constexpr int kHostEdit = 1009;
constexpr int kPortEdit = 1010;
constexpr int kUserEdit = 1011;
constexpr int kPasswordEdit = 1012;
constexpr int kAddressLimit = 16;  // type, host: characters
constexpr int kPortLimit = 8;
constexpr int kUserLimit = 64;
// The type list, in order; the last one means the system's proxy setting.
constexpr const char* kTypesUtf8[] = {"HTTP", "SOCKS4", "SOCKS5", "浏览器设置"};
}  // namespace proxy

struct ProxyForm {
  bool use = false;
  std::string type;
  std::string host;
  std::string port;
  std::string user;
  std::string password;
};

struct ProxyEnable {
  bool type = false;    // the type list
  bool fields = false;  // host, port, user, password
};

// Type "浏览器设置": the system's proxy instead of the fields.
bool IsBrowserSettings(const std::string& type);

// From the configuration: the address split at its last ":" (no ":": all
// of it is the host and the port is empty).
ProxyForm LoadProxyForm(const CConfig& config);

// The list follows the box; the fields follow the box unless the type is
// "浏览器设置".
ProxyEnable ProxyEnableRule(const ProxyForm& form);

// The type was changed to form.type: "浏览器设置" empties the four fields;
// otherwise the port becomes "80" for HTTP and "1080" for the others.
void ProxyTypeChanged(ProxyForm& form);

struct ProxyProblem {
  int field = 0;            // the control to focus; 0 when the page is valid
  std::string messageUtf8;  // shown with the title "Vessa" and the error icon
};
ProxyProblem ValidateProxy(const ProxyForm& form);

// Writes the five proxy keys to the configuration and client.db. False when
// they could not be stored.
bool ApplyProxy(CConfig& config, const ProxyForm& form);
