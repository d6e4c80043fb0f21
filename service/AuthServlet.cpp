#include "service/AuthServlet.h"

#include <microhttpd.h>

#include <string>

namespace {

HttpAnswer Challenge(CDigestNonces& nonces, bool stale) {
  HttpAnswer answer;
  answer.status = 401;
  answer.body = "authentication required";
  answer.headers.emplace_back(MHD_HTTP_HEADER_WWW_AUTHENTICATE,
                              DigestChallenge(CAccounts::kRealm, nonces.Issue(), stale));
  return answer;
}

// The answer names the page it was computed for; only the login page's
// answers are taken ("http://host" before the path, as some proxies send
// it, and a query after it are not part of the page).
bool NamesLoginPage(const std::string& uri) {
  std::string path = uri;
  if (const std::size_t scheme = path.find("://"); scheme != std::string::npos) {
    const std::size_t slash = path.find('/', scheme + 3);
    path = slash == std::string::npos ? "/" : path.substr(slash);
  }
  return path.substr(0, path.find('?')) == kLoginPath;
}

// The Host header when it is a plain host[:port] (it goes into URLs).
std::string ServiceHost(MHD_Connection* connection, const std::string& ownAddress) {
  const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
  const std::string text = host ? host : "";
  if (text.empty() || text.size() > 255) return ownAddress;
  for (const char c : text) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '-' || c == ':' || c == '[' || c == ']';
    if (!allowed) return ownAddress;
  }
  return text;
}

}  // namespace

HttpAnswer ServeLogin(const LoginRequest& request, ServiceParts& parts, CDigestNonces& nonces, RequestNote& note) {
  note.operation = "login";
  const char* header =
      MHD_lookup_connection_value(request.connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
  DigestAnswer digest;
  if (!header || !ParseDigestAnswer(header, digest)) {
    note.outcome = "challenge";
    return Challenge(nonces, false);
  }
  note.user = digest.username;
  UserRecord user;
  if (!parts.accounts.FindUser(note.user, user)) {
    note.outcome = "unknown user";
    return Challenge(nonces, false);
  }
  if (digest.realm != CAccounts::kRealm || !NamesLoginPage(digest.uri) ||
      !DigestResponseMatches(digest, request.method, user.ha1)) {
    note.outcome = "wrong password";
    return Challenge(nonces, false);
  }
  // Checked after the password, so a wrong guess does not use up a count.
  switch (nonces.Accept(digest.nonce, digest.count)) {
    case CDigestNonces::Use::kUnknown:
      note.outcome = "stale nonce";
      return Challenge(nonces, true);
    case CDigestNonces::Use::kReplayed:
      note.outcome = "replayed answer";
      return Challenge(nonces, false);
    case CDigestNonces::Use::kAccepted:
      break;
  }
  const std::string passport = parts.accounts.IssuePassport(user.id, parts.options.passportLifetime);
  const std::string base = "http://" + ServiceHost(request.connection, request.ownAddress);
  HttpAnswer answer;
  answer.body = "OK";
  answer.headers.emplace_back(MHD_HTTP_HEADER_SET_COOKIE, "ordanePassport=" + passport + "; Path=/; HttpOnly");
  answer.headers.emplace_back("Set-Vessa", "result=OK; back_server=" + base + kBackPath + "; trs_server=" + base +
                                               kTransmitterPath + "; hb_server=" + base + kHeartbeatPath + ";");
  note.outcome = "OK";
  return answer;
}
