#include "service/DigestAuth.h"

#include <openssl/crypto.h>

#include <charconv>

#include "foundation/Format.h"
#include "service/Identifiers.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One `name=value` or `name="quoted value"` of the header, from `at`.
bool NextField(const std::string& text, std::size_t& at, std::string& name, std::string& value) {
  while (at < text.size() && (IsBlank(text[at]) || text[at] == ',')) ++at;
  if (at == text.size()) return false;
  const std::size_t equals = text.find('=', at);
  if (equals == std::string::npos) return false;
  name = LowerAscii(text.substr(at, equals - at));
  while (!name.empty() && IsBlank(name.back())) name.pop_back();
  at = equals + 1;
  while (at < text.size() && IsBlank(text[at])) ++at;
  value.clear();
  if (at < text.size() && text[at] == '"') {
    for (++at; at < text.size() && text[at] != '"'; ++at) {
      if (text[at] == '\\' && at + 1 < text.size()) ++at;
      value += text[at];
    }
    if (at == text.size()) return false;  // no closing quote
    ++at;
  } else {
    while (at < text.size() && text[at] != ',' && !IsBlank(text[at])) value += text[at++];
  }
  return !name.empty();
}

bool ReadCount(const std::string& text, uint32_t& count) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, count, 16);
  return text.size() == 8 && error == std::errc() && stop == end;
}

std::string Md5Text(const std::string& text) { return Md5Lower(text.data(), text.size()); }

// Compares without stopping at the first difference, so the time taken
// tells nothing about how much of a guessed response was right.
bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool ParseDigestAnswer(const std::string& header, DigestAnswer& answer) {
  constexpr const char* kScheme = "digest";
  std::size_t at = 0;
  while (at < header.size() && IsBlank(header[at])) ++at;
  if (LowerAscii(header.substr(at, 6)) != kScheme || at + 6 >= header.size() || !IsBlank(header[at + 6])) return false;
  at += 7;
  answer = DigestAnswer{};
  std::string name;
  std::string value;
  while (NextField(header, at, name, value)) {
    if (name == "username") answer.username = value;
    else if (name == "realm") answer.realm = value;
    else if (name == "nonce") answer.nonce = value;
    else if (name == "uri") answer.uri = value;
    else if (name == "response") answer.response = value;
    else if (name == "qop") answer.qop = value;
    else if (name == "cnonce") answer.cnonce = value;
    else if (name == "algorithm") answer.algorithm = value;
    else if (name == "nc") answer.nc = value;
  }
  return at == header.size() && !answer.username.empty() && !answer.nonce.empty() && !answer.uri.empty() &&
         !answer.response.empty() && !answer.cnonce.empty() && ReadCount(answer.nc, answer.count);
}

bool DigestResponseMatches(const DigestAnswer& answer, const std::string& method, const std::string& ha1Hex) {
  if (answer.qop != "auth" || !(answer.algorithm.empty() || LowerAscii(answer.algorithm) == "md5")) return false;
  const std::string ha2 = Md5Text(method + ":" + answer.uri);
  const std::string expected =
      Md5Text(LowerAscii(ha1Hex) + ":" + answer.nonce + ":" + answer.nc + ":" + answer.cnonce + ":" + answer.qop + ":" + ha2);
  return SameText(expected, LowerAscii(answer.response));
}

std::string DigestChallenge(const std::string& realm, const std::string& nonce, bool stale) {
  return "Digest realm=\"" + realm + "\", qop=\"auth\", nonce=\"" + nonce + "\", opaque=\"vessa\", algorithm=MD5" +
         (stale ? ", stale=true" : "");
}

CDigestNonces::CDigestNonces(std::chrono::seconds lifetime, std::size_t capacity)
    : lifetime_(lifetime), capacity_(capacity == 0 ? 1 : capacity) {}

std::string CDigestNonces::Issue() {
  std::string nonce = RandomHex(32);
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetOld(now);
  while (order_.size() >= capacity_) {
    issued_.erase(order_.front());
    order_.pop_front();
  }
  issued_[nonce] = Issued{now, 0};
  order_.push_back(nonce);
  return nonce;
}

CDigestNonces::Use CDigestNonces::Accept(const std::string& nonce, uint32_t count) {
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetOld(now);
  const auto found = issued_.find(nonce);
  if (found == issued_.end()) return Use::kUnknown;
  if (count <= found->second.lastCount) return Use::kReplayed;
  found->second.lastCount = count;
  return Use::kAccepted;
}

void CDigestNonces::ForgetOld(Clock::time_point now) {
  while (!order_.empty()) {
    const auto oldest = issued_.find(order_.front());
    if (oldest != issued_.end() && now - oldest->second.at < lifetime_) break;
    if (oldest != issued_.end()) issued_.erase(oldest);
    order_.pop_front();
  }
}
