#pragma once
// The service's web site: pages opened in the browser and the version query.
// It lives where the authentication servlet lives, so the site follows the
// configured auth_server (the reference service on loopback by default).
#include <string>

namespace web {
constexpr const char* kFilesPage = "/files.jsp";
constexpr const char* kManualPage = "/support/manual.jsp";
constexpr const char* kRegisterPage = "/mservices/reg/SSLRegister.action";
constexpr const char* kVersionQuery = "/vorportal/clientVersion";
constexpr const char* kDownloadPage = "/vorportal/downloadClient";
}  // namespace web

// "scheme://host[:port]" of `authServer`; "http://" is assumed when it names
// no scheme. "" when there is no host.
std::string WebHost(const std::string& authServer);

// WebHost(authServer) + path, or "" when there is no host.
std::string WebPage(const std::string& authServer, const char* path);
