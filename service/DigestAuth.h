#pragma once
// HTTP Digest authentication (RFC 7616, MD5, qop "auth") for the login page.
// Every challenge carries a nonce of its own. A nonce derived from the clock
// is shared by every login that starts in the same second, and its rising
// count then makes the second of two overlapping logins look like a replay:
// two computers starting together would see one of them refused.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

// The fields of an "Authorization: Digest ..." header that the check uses.
struct DigestAnswer {
  std::string username;
  std::string realm;
  std::string nonce;
  std::string uri;
  std::string response;
  std::string qop;
  std::string cnonce;
  std::string algorithm;  // empty means MD5
  std::string nc;         // the use count as sent: 8 hex digits
  uint32_t count = 0;     // the same as a number
};

// False when the header is no Digest answer or lacks a field the check needs.
bool ParseDigestAnswer(const std::string& header, DigestAnswer& answer);

// True when the answer's response is the one the password behind `ha1Hex`
// (MD5 of "user:realm:password", hex) gives for `method`.
bool DigestResponseMatches(const DigestAnswer& answer, const std::string& method, const std::string& ha1Hex);

// The value of a WWW-Authenticate header; `stale` tells the client that only
// the nonce was out of date, so it answers again without asking the user.
std::string DigestChallenge(const std::string& realm, const std::string& nonce, bool stale);

// The nonces handed out, each good for a lifetime; the oldest are forgotten
// once `capacity` are held, so unanswered challenges cannot fill the memory.
class CDigestNonces {
 public:
  CDigestNonces(std::chrono::seconds lifetime, std::size_t capacity);

  std::string Issue();

  enum class Use { kAccepted, kReplayed, kUnknown };
  // A use of `nonce` with count `count`: unknown when the nonce was never
  // issued, has expired or was forgotten; replayed unless the count is above
  // every count it was accepted with before.
  Use Accept(const std::string& nonce, uint32_t count);

 private:
  using Clock = std::chrono::steady_clock;
  struct Issued {
    Clock::time_point at;
    uint32_t lastCount = 0;
  };
  void ForgetOld(Clock::time_point now);

  const std::chrono::seconds lifetime_;
  const std::size_t capacity_;
  std::mutex mutex_;
  std::unordered_map<std::string, Issued> issued_;
  std::deque<std::string> order_;  // oldest first
};
