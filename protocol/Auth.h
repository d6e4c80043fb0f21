#pragma once
// The authentication exchange: one GET of the authentication URL with HTTP
// Digest yields the passport (cookie "ordanePassport") and the addresses of
// the back server, transmitter and heartbeat server (header "Set-Vessa":
// "result=OK; back_server=...; trs_server=...; hb_server=...;").
// Used by the worker thread only. Failures are logged under "CAuth::<Method>".
#include <string>
#include <vector>

#include "protocol/ProxySetting.h"

class CAuth {
 public:
  static constexpr int kDefaultTimeoutMs = 120000;

  // False, nothing stored, for an empty URL.
  bool Init(const std::string& url, const std::string& user, const std::string& password);
  // Modes: "HTTP", "SOCKS4", "SOCKS5" or browser settings (ProxySetting.h).
  void SetProxy(const std::string& mode, const std::string& address, const std::string& user,
                const std::string& password);
  // The longest an exchange may take (no answer ends as HTTP code 0).
  void SetTimeout(int milliseconds) { timeoutMs_ = milliseconds; }
  void SetDomain(const std::string& domain) { domain_ = domain; }
  std::string GetDomain() const { return domain_; }

  // Authenticates (with the given user and password when both are
  // non-empty, else the stored ones). 1 with the passport when the server
  // answered 200 with the passport cookie and all three server addresses.
  // The URL must begin with "http://" or "https://".
  int Request(std::string& passport, const std::string& user, const std::string& password);
  int GetHttpCode() const { return httpCode_; }
  int GetServers(std::string& back, std::string& transmitter, std::string& heartbeat) const;

  // One received piece (a header line or body data): a "Set-Vessa" line
  // fills the server addresses. 1 when it did.
  int ParserContent(const std::string& text);
  // The text after `name` (leading blanks dropped) up to the first line feed.
  static int GetHeaderField(const std::string& text, const std::string& name, std::string& value);
  // The value of "item = value;" (or up to the line end when no ";" follows).
  static int GetFieldItem(const std::string& text, const std::string& item, std::string& value);
  // The passport in libcurl's cookie lines: the text after "ordanePassport"
  // in the first line holding it, leading white space dropped.
  static std::string PassportFromCookies(const std::vector<std::string>& lines);

 private:
  int Perform(void* curl);  // the transfer itself; the HTTP code

  int httpCode_ = 0;
  int timeoutMs_ = kDefaultTimeoutMs;
  std::string url_;
  std::string user_;
  std::string password_;
  std::string passport_;
  std::string domain_;
  std::string backServer_;
  std::string heartbeatServer_;
  std::string transmitterServer_;
  ProxySetting proxy_;
};
