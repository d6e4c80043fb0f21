#include "service/Identifiers.h"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/Format.h"

namespace {

constexpr char kHex[] = "0123456789abcdef";

bool IsHex32(const std::string& text, bool lowerOnly) {
  if (text.size() != 32) return false;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool lower = c >= 'a' && c <= 'f';
    const bool upper = c >= 'A' && c <= 'F';
    if (!digit && !lower && (lowerOnly || !upper)) return false;
  }
  return true;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string out;
  out.reserve(count * 2);
  for (std::size_t i = 0; i < count; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 15];
  }
  return out;
}

}  // namespace

std::string RandomHex(std::size_t digits) {
  std::vector<unsigned char> bytes((digits + 1) / 2);
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw std::runtime_error("no random bytes");
  }
  return Hex(bytes.data(), bytes.size()).substr(0, digits);
}

bool IsStorageKey(const std::string& text) { return IsHex32(text, true); }

std::string NewStorageKey() { return RandomHex(32); }

bool IsChunkKey(const std::string& text) { return IsHex32(text, false); }

std::string ChunkId(const std::string& key) { return LowerAscii(key); }

std::string Md5Lower(const void* data, std::size_t length) {
  unsigned char digest[16];
  Md5Digest(data, length, digest);
  return Hex(digest, sizeof digest);
}
