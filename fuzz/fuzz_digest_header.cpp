// The service's reading of an "Authorization: Digest ..." header, and the
// check of its response against a known password.
//   input: the header's value
#include <cstddef>
#include <cstdint>
#include <string>

#include "service/Accounts.h"
#include "service/DigestAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::string kHa1 = CAccounts::Ha1("fuzz", "fuzz-password");
  const std::string header(reinterpret_cast<const char*>(data), size);
  DigestAnswer answer;
  if (ParseDigestAnswer(header, answer)) DigestResponseMatches(answer, "GET", kHa1);
  return 0;
}
