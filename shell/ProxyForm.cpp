#include "shell/ProxyForm.h"

#include "foundation/Config.h"
#include "shell/LocalText.h"

bool IsBrowserSettings(const std::string& type) { return type == LocalFromUtf8(proxy::kTypesUtf8[3]); }

ProxyForm LoadProxyForm(const CConfig& config) {
  ProxyForm form;
  form.type = config.Get(CConfig::kProxyType);
  const std::string address = config.Get(CConfig::kProxyAddr);
  const std::size_t colon = address.rfind(':');
  form.host = address.substr(0, colon);
  form.port = colon == std::string::npos ? std::string() : address.substr(colon + 1);
  form.user = config.Get(CConfig::kProxyUser);
  form.password = config.Get(CConfig::kProxyPasswd);
  form.use = config.GetProxyFlag() != 0;
  return form;
}

ProxyEnable ProxyEnableRule(const ProxyForm& form) {
  return {form.use, form.use && !IsBrowserSettings(form.type)};
}

void ProxyTypeChanged(ProxyForm& form) {
  if (IsBrowserSettings(form.type)) {
    form.host.clear();
    form.port.clear();
    form.user.clear();
    form.password.clear();
    return;
  }
  form.port = form.type == "HTTP" ? "80" : "1080";
}

ProxyProblem ValidateProxy(const ProxyForm& form) {
  if (!form.use || IsBrowserSettings(form.type)) return {};
  if (form.host.empty()) return {proxy::kHostEdit, "未设置代理服务器地址"};
  if (form.port.empty()) return {proxy::kPortEdit, "未代理服务器端口"};
  return {};
}

bool ApplyProxy(CConfig& config, const ProxyForm& form) {
  config.SetProxyFlag(form.use ? 1 : 0);
  config.Set(CConfig::kProxyType, form.type);
  config.Set(CConfig::kProxyAddr, form.host.empty() && form.port.empty() ? std::string() : form.host + ":" + form.port);
  config.Set(CConfig::kProxyUser, form.user);
  config.Set(CConfig::kProxyPasswd, form.password);
  return config.StoreProxy() != 0;
}
