#pragma once
// MD5 of every 4096-byte block of a buffer. A chunk's block list needs a
// thousand independent digests of equal-length messages; on processors with
// AVX2 eight of them are computed side by side, one per 32-bit lane, several
// times faster than one after another. The digests are plain MD5 (RFC 1321).
#include <cstddef>

// digests[16 * i, 16 * i + 16) receives the MD5 of data[4096 * i, 4096 * i + 4096)
// for every i < count.
void Md5OfWholeBlocks(const unsigned char* data, std::size_t count, unsigned char* digests);
