#include "foundation/Md5Blocks.h"

#include <cstdint>

#include "foundation/Digest.h"

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)  // GCC's target pragma
#define VESSA_MD5_LANES 1
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t kPieceBytes = 64;  // MD5 works on 64-byte pieces
static_assert(kBlockSize % kPieceBytes == 0, "a block is whole MD5 pieces");

constexpr std::size_t kDigestBytes = 16;

void Md5OneByOne(const unsigned char* data, std::size_t count, unsigned char* digests) {
  for (std::size_t i = 0; i < count; ++i) Md5Digest(data + i * kBlockSize, kBlockSize, digests + i * kDigestBytes);
}

#ifdef VESSA_MD5_LANES
#pragma GCC push_options
#pragma GCC target("avx2")

constexpr int kLanes = 8;

// Per step of the 64: the additive constant, the rotation, the message word.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

int WordOfStep(int step) {
  switch (step / 16) {
    case 0: return step;
    case 1: return (5 * step + 1) % 16;
    case 2: return (3 * step + 5) % 16;
    default: return (7 * step) % 16;
  }
}

inline __m256i Add(__m256i x, __m256i y) { return _mm256_add_epi32(x, y); }

inline __m256i RotateLeft(__m256i x, int bits) {
  return _mm256_or_si256(_mm256_sll_epi32(x, _mm_cvtsi32_si128(bits)),
                         _mm256_srl_epi32(x, _mm_cvtsi32_si128(32 - bits)));
}

// The round function of the step's quarter.
inline __m256i Mix(int round, __m256i b, __m256i c, __m256i d) {
  switch (round) {
    case 0: return _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d)));
    case 1: return _mm256_xor_si256(c, _mm256_and_si256(d, _mm256_xor_si256(b, c)));
    case 2: return _mm256_xor_si256(_mm256_xor_si256(b, c), d);
    default: return _mm256_xor_si256(c, _mm256_or_si256(b, _mm256_xor_si256(d, _mm256_set1_epi32(-1))));
  }
}

struct LaneState {
  __m256i a, b, c, d;
};

// One 64-byte piece of every lane's message.
void Compress(LaneState& state, const __m256i (&word)[16]) {
  __m256i a = state.a, b = state.b, c = state.c, d = state.d;
  for (int step = 0; step < 64; ++step) {
    const int round = step / 16;
    const __m256i sum = Add(Add(a, Mix(round, b, c, d)),
                            Add(_mm256_set1_epi32(static_cast<int>(kSine[step])), word[WordOfStep(step)]));
    a = d;
    d = c;
    c = b;
    b = Add(b, RotateLeft(sum, kShift[round][step % 4]));
  }
  state.a = Add(state.a, a);
  state.b = Add(state.b, b);
  state.c = Add(state.c, c);
  state.d = Add(state.d, d);
}

// Eight consecutive blocks, lane k holding data[k * 4096, (k + 1) * 4096).
void Md5EightBlocks(const unsigned char* data, unsigned char* digests) {
  LaneState state{_mm256_set1_epi32(0x67452301), _mm256_set1_epi32(static_cast<int>(0xefcdab89)),
                  _mm256_set1_epi32(static_cast<int>(0x98badcfe)), _mm256_set1_epi32(0x10325476)};
  const __m256i laneOffsets = _mm256_setr_epi32(0, 1 * kBlockSize, 2 * kBlockSize, 3 * kBlockSize, 4 * kBlockSize,
                                                5 * kBlockSize, 6 * kBlockSize, 7 * kBlockSize);
  __m256i word[16];
  for (std::size_t piece = 0; piece < kBlockSize; piece += kPieceBytes) {
    for (int w = 0; w < 16; ++w) {
      const auto* base = reinterpret_cast<const int*>(data + piece + 4 * w);
      word[w] = _mm256_i32gather_epi32(base, laneOffsets, 1);
    }
    Compress(state, word);
  }
  // Every message has the same length, so the same final piece: the 0x80
  // marker, zeros, and the length in bits.
  const uint64_t bits = uint64_t{kBlockSize} * 8;
  for (__m256i& w : word) w = _mm256_setzero_si256();
  word[0] = _mm256_set1_epi32(0x80);
  word[14] = _mm256_set1_epi32(static_cast<int>(bits & 0xffffffff));
  word[15] = _mm256_set1_epi32(static_cast<int>(bits >> 32));
  Compress(state, word);

  alignas(32) uint32_t parts[4][kLanes];
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts[0]), state.a);
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts[1]), state.b);
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts[2]), state.c);
  _mm256_store_si256(reinterpret_cast<__m256i*>(parts[3]), state.d);
  for (int lane = 0; lane < kLanes; ++lane) {
    for (int part = 0; part < 4; ++part) {
      for (int byte = 0; byte < 4; ++byte) {
        digests[lane * kDigestBytes + part * 4 + byte] = static_cast<unsigned char>(parts[part][lane] >> (8 * byte));
      }
    }
  }
}

#pragma GCC pop_options

bool HasLanes() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#endif

}  // namespace

void Md5OfWholeBlocks(const unsigned char* data, std::size_t count, unsigned char* digests) {
  std::size_t done = 0;
#ifdef VESSA_MD5_LANES
  if (HasLanes()) {
    for (; done + kLanes <= count; done += kLanes) Md5EightBlocks(data + done * kBlockSize, digests + done * kDigestBytes);
  }
#endif
  Md5OneByOne(data + done * kBlockSize, count - done, digests + done * kDigestBytes);
}
