#include "foundation/Digest.h"

#include <openssl/evp.h>

void Md5Digest(const void* data, std::size_t length, unsigned char digest[16]) {
  // EVP wants a valid pointer even for an empty range.
  static const unsigned char kNothing = 0;
  unsigned int size = 16;
  EVP_Digest(length ? data : &kNothing, length, digest, &size, EVP_md5(), nullptr);
}

namespace {

// A byte as the signed 8-bit value the checksum is defined on, carried in
// uint32_t so that every sum wraps modulo 2^32 without signed overflow.
inline uint32_t Signed(unsigned char byte) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

}  // namespace

WeakSum ComputeWeakSum(const unsigned char* data, std::size_t length) {
  WeakSum sum;
  std::size_t i = 0;
  // Four bytes per step; the same result as adding them one at a time.
  for (; i + 4 < length; i += 4) {
    const uint32_t b0 = Signed(data[i]);
    const uint32_t b1 = Signed(data[i + 1]);
    const uint32_t b2 = Signed(data[i + 2]);
    const uint32_t b3 = Signed(data[i + 3]);
    sum.s2 += 4 * (sum.s1 + b0) + 3 * b1 + 2 * b2 + b3;
    sum.s1 += b0 + b1 + b2 + b3;
  }
  for (; i < length; ++i) {
    sum.s1 += Signed(data[i]);
    sum.s2 += sum.s1;
  }
  return sum;
}
