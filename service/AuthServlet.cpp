#include "service/AuthServlet.h"

#include <microhttpd.h>

#include <memory>

#include "foundation/Util.h"

namespace {

constexpr unsigned kNonceSeconds = 300;

HttpAnswer Challenge(bool stale) {
  HttpAnswer answer;
  answer.status = 401;
  answer.challenge = true;
  answer.stale = stale;
  answer.body = "authentication required";
  return answer;
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

HttpAnswer ServeLogin(MHD_Connection* connection, ServiceParts& parts, const std::string& ownAddress,
                      RequestNote& note) {
  note.operation = "login";
  std::unique_ptr<char, decltype(&MHD_free)> name(MHD_digest_auth_get_username(connection), &MHD_free);
  if (!name) {
    note.outcome = "challenge";
    return Challenge(false);
  }
  note.user = name.get();
  UserRecord user;
  unsigned char ha1[16];
  if (!parts.accounts.FindUser(note.user, user) || !CUtil::HexToBytes(user.ha1, ha1)) {
    note.outcome = "unknown user";
    return Challenge(false);
  }
  const int verdict = MHD_digest_auth_check_digest2(connection, CAccounts::kRealm, user.name.c_str(), ha1,
                                                    sizeof ha1, kNonceSeconds, MHD_DIGEST_ALG_MD5);
  if (verdict != MHD_YES) {
    note.outcome = verdict == MHD_INVALID_NONCE ? "stale nonce" : "wrong password";
    return Challenge(verdict == MHD_INVALID_NONCE);
  }
  const std::string passport = parts.accounts.IssuePassport(user.id, parts.options.passportLifetime);
  const std::string base = "http://" + ServiceHost(connection, ownAddress);
  HttpAnswer answer;
  answer.body = "OK";
  answer.headers.emplace_back(MHD_HTTP_HEADER_SET_COOKIE, "ordanePassport=" + passport + "; Path=/; HttpOnly");
  answer.headers.emplace_back("Set-Vessa", "result=OK; back_server=" + base + kBackPath + "; trs_server=" + base +
                                               kTransmitterPath + "; hb_server=" + base + kHeartbeatPath + ";");
  note.outcome = "OK";
  return answer;
}
