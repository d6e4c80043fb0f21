#pragma once
// Checksums of file content: the MD5 digest (OpenSSL) and the weak rolling
// checksum of the rsync-style block signatures.
#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t kBlockSize = 4096;  // block of a signature

// MD5 (RFC 1321) of `length` bytes into 16 bytes.
void Md5Digest(const void* data, std::size_t length, unsigned char digest[16]);

// The two running sums of the weak checksum. Bytes count as signed 8-bit
// values; the sums wrap as 32-bit integers.
struct WeakSum {
  uint32_t s1 = 0;
  uint32_t s2 = 0;
  uint32_t Value() const { return (s1 & 0xFFFF) + (s2 << 16); }
};

// Weak checksum of data[0..length-1]:
//   for i = 0, 4, 8, ... while i < length - 4:
//     s2 += 4(s1 + b[i]) + 3b[i+1] + 2b[i+2] + b[i+3];  s1 += b[i] + ... + b[i+3]
//   then for each remaining byte: s1 += b[i]; s2 += s1.
WeakSum ComputeWeakSum(const unsigned char* data, std::size_t length);
