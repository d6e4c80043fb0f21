#include "protocol/Auth.h"

#include <curl/curl.h>

#include <cctype>

#include "foundation/Logger.h"
#include "protocol/HttpTransport.h"

namespace {

constexpr const char* kRequest = "CAuth::Request";
constexpr const char* kPassportCookie = "ordanePassport";

std::string TrimLeft(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return text.substr(at);
}

size_t ReceivePiece(char* data, size_t size, size_t count, void* self) {
  static_cast<CAuth*>(self)->ParserContent(std::string(data, size * count));
  return size * count;  // the parse never cuts the transfer short
}

// libcurl's own progress notes go to the log; header and data dumps and the
// notes on cookies never do (they carry the Digest answer and the passport).
int TraceToLog(CURL*, curl_infotype type, char* data, size_t size, void*) {
  if (type != CURLINFO_TEXT) return 0;
  std::string text(data, size);
  if (text.find("cookie") != std::string::npos || text.find(kPassportCookie) != std::string::npos) return 0;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  LogText(CLogger::kDebug, kRequest, text);
  return 0;
}

void ApplyProxy(CURL* curl, const ProxySetting& setting) {
  std::string address;
  const ProxyKind kind = ResolveProxy(setting, address);
  if (kind == ProxyKind::kNone) {
    curl_easy_setopt(curl, CURLOPT_PROXY, "");  // direct, whatever the environment says
    return;
  }
  const long type = kind == ProxyKind::kSocks4 ? CURLPROXY_SOCKS4
                    : kind == ProxyKind::kSocks5 ? CURLPROXY_SOCKS5
                                                 : CURLPROXY_HTTP;
  curl_easy_setopt(curl, CURLOPT_PROXYTYPE, type);
  curl_easy_setopt(curl, CURLOPT_PROXY, address.c_str());
  if (!setting.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, setting.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, setting.password.c_str());
  }
}

}  // namespace

bool CAuth::Init(const std::string& url, const std::string& user, const std::string& password) {
  if (url.empty()) return false;
  url_ = url;
  user_ = user;
  password_ = password;
  return true;
}

void CAuth::SetProxy(const std::string& mode, const std::string& address, const std::string& user,
                     const std::string& password) {
  proxy_ = ProxySetting{mode, address, user, password};
}

int CAuth::GetServers(std::string& back, std::string& transmitter, std::string& heartbeat) const {
  back = backServer_;
  transmitter = transmitterServer_;
  heartbeat = heartbeatServer_;
  return 1;
}

int CAuth::Request(std::string& passport, const std::string& user, const std::string& password) {
  if (!user.empty() && !password.empty()) {
    user_ = user;
    password_ = password;
  }
  if (user_.empty() || password_.empty()) {
    LogF(CLogger::kError, kRequest, "Invalid user: %s", user_.c_str());
    return 0;
  }
  // https is authenticated the same way; libcurl speaks both.
  if (url_.empty() || (url_.find("http://") == std::string::npos && url_.find("https://") == std::string::npos)) {
    LogF(CLogger::kError, kRequest, "Invalid auth server: %s", url_.c_str());
    return 0;
  }
  backServer_.clear();
  transmitterServer_.clear();
  heartbeatServer_.clear();
  passport_.clear();

  CURL* curl = CurlReady() ? curl_easy_init() : nullptr;
  if (!curl) {
    LogText(CLogger::kError, kRequest, "curl_easy_init() failed");
    return 0;
  }
  LogF(CLogger::kInfo, kRequest, "Using endpoint : %s", url_.c_str());
  httpCode_ = Perform(curl);
  if (httpCode_ != 200) {
    LogF(CLogger::kError, kRequest, "Fail to process http ack code: %d", httpCode_);
    curl_easy_cleanup(curl);
    return 0;
  }
  curl_slist* cookies = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_COOKIELIST, &cookies) != CURLE_OK) {
    LogText(CLogger::kError, kRequest, "Fail to get cookie");
    curl_easy_cleanup(curl);
    return 0;
  }
  std::vector<std::string> lines;
  for (const curl_slist* line = cookies; line; line = line->next) lines.emplace_back(line->data);
  curl_slist_free_all(cookies);
  curl_easy_cleanup(curl);

  passport_ = PassportFromCookies(lines);
  if (passport_.empty()) {
    LogF(CLogger::kError, kRequest, "Fail to get passport for User {%s}", user.c_str());
    return 0;
  }
  passport = passport_;
  if (!backServer_.empty() && !transmitterServer_.empty() && !heartbeatServer_.empty()) return 1;
  LogF(CLogger::kError, kRequest, "Fail to get servers list: backer(%s), transmitter(%s), heartbeater(%s)",
       backServer_.c_str(), transmitterServer_.c_str(), heartbeatServer_.c_str());
  return 0;
}

int CAuth::Perform(void* handle) {
  CURL* curl = static_cast<CURL*>(handle);
  curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_HEADER, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Vessa Client");
  curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // cookies in memory only
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_DIGEST));
  curl_easy_setopt(curl, CURLOPT_USERNAME, user_.c_str());
  curl_easy_setopt(curl, CURLOPT_PASSWORD, password_.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceivePiece);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
  ApplyProxy(curl, proxy_);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, TraceToLog);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs_));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_perform(curl);  // a failed transfer shows as HTTP code 0
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  return static_cast<int>(code);
}

int CAuth::ParserContent(const std::string& text) {
  const char* fn = "CAuth::ParserContent";
  if (text.find("Set-Vessa") == std::string::npos) return 0;
  std::string field;
  std::string result;
  if (GetHeaderField(text, "Set-Vessa", field) != 1 || GetFieldItem(field, "result", result) != 1) {
    LogF(CLogger::kError, fn, "Fail to get item {%s} from %s", "Set-Vessa", field.c_str());
    return 0;
  }
  if (result != "OK") {
    LogF(CLogger::kError, fn, "get auth result: %s", result.c_str());
    return 0;
  }
  struct Item {
    const char* name;
    std::string& value;
    const char* found;
  };
  const Item items[] = {{"back_server", backServer_, "get back server: %s"},
                        {"trs_server", transmitterServer_, "get transmitter server: %s"},
                        {"hb_server", heartbeatServer_, "get heartbeat server: %s"}};
  for (const Item& item : items) {
    if (GetFieldItem(field, item.name, item.value) != 1) {
      LogF(CLogger::kError, fn, "Fail to get item {%s} from %s", item.name, item.value.c_str());
      return 0;
    }
    LogF(CLogger::kInfo, fn, item.found, item.value.c_str());
  }
  return 1;
}

int CAuth::GetHeaderField(const std::string& text, const std::string& name, std::string& value) {
  const char* fn = "CAuth::GetHeaderField";
  if (text.empty() || name.empty()) {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}", name.c_str(), text.c_str());
    return 0;
  }
  const size_t at = text.find(name);
  if (at == std::string::npos) {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}.", name.c_str(), text.c_str());
    return 0;
  }
  std::string rest = TrimLeft(text.substr(at + name.size()));
  const size_t lineFeed = rest.find('\n');
  value = lineFeed == std::string::npos ? rest : rest.substr(0, lineFeed);
  return 1;
}

int CAuth::GetFieldItem(const std::string& text, const std::string& item, std::string& value) {
  const char* fn = "CAuth::GetFieldItem";
  if (text.empty() || item.empty()) {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}", item.c_str(), text.c_str());
    return 0;
  }
  const size_t at = text.find(item);
  if (at == std::string::npos) {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}.", item.c_str(), text.c_str());
    return 0;
  }
  std::string rest = TrimLeft(text.substr(at + item.size()));
  if (rest.empty() || rest[0] != '=') {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}..", item.c_str(), text.c_str());
    return 0;
  }
  rest = TrimLeft(rest.substr(1));
  size_t end = rest.find(';');
  if (end == std::string::npos) end = rest.find('\n');
  if (end == std::string::npos) {
    LogF(CLogger::kError, fn, "Fail to find {%s} from {%s}...", item.c_str(), text.c_str());
    return 0;
  }
  value = rest.substr(0, end);
  return 1;
}

std::string CAuth::PassportFromCookies(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const size_t at = line.find(kPassportCookie);
    if (at != std::string::npos) return TrimLeft(line.substr(at + std::char_traits<char>::length(kPassportCookie)));
  }
  return "";
}
