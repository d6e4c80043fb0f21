#pragma once
// rsync-style delta encoding of a chunk against the block signature of the
// previous version of its file, and the decoding that rebuilds the chunk.
//
// Encoded chunk (all integers 32-bit little-endian):
//   header  0 total length (header included) | 4 chunk length | 8 record count |
//           12 sender's address of the first record (written as 0)
//   record  0 magic "CNYS" (0x53594E43) | 4 record length (108, + literal bytes) |
//           8 type (0 literal, 1 copy) | 12 target offset | 16 byte count |
//           20 offset in the old chunk (literal: -1) | 24 old chunk's storage key,
//           80 bytes NUL-terminated (literal: zero) | 104 sender's address of the
//           data (written as 0) | 108 literal bytes
// The records cover the chunk once, in order, without gaps.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "store/FileInfo.h"

constexpr uint32_t kDeltaMagic = 0x53594E43;
constexpr uint32_t kDeltaHeaderSize = 16;
constexpr uint32_t kDeltaRecordSize = 108;

// Encodes data[0..length-1] (1..4194304 bytes) against `signature`. Returns
// false, `encoded` untouched, for an empty or oversized chunk. Each call has
// its own state, so encodings may run in several threads at once.
bool EncodeDelta(const SignatureHeader& signature, const unsigned char* data, uint32_t length,
                 std::vector<unsigned char>& encoded);

// Gives the bytes of the old chunk stored under `storageKey`; false when the
// key is unknown.
using OldChunkReader = std::function<bool(const std::string& storageKey, std::vector<unsigned char>& bytes)>;

// Rebuilds a chunk from an encoded chunk. Refuses (false, `error` says why,
// `chunk` unspecified) anything malformed: a short or inconsistent header, a
// bad magic, type or record length, records that overlap, leave gaps or go
// past the chunk length, an unknown old chunk, a copy past its end, trailing
// bytes. Never reads or writes out of bounds. Each old chunk is read once.
bool DecodeDelta(const unsigned char* encoded, std::size_t length, const OldChunkReader& readOldChunk,
                 std::vector<unsigned char>& chunk, std::string& error);
