#include "foundation/Digest.h"
#include "foundation/Md5Blocks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

// The checksum added one byte at a time, with the sums kept as 64-bit signed
// numbers and cut to 32 bits only at the end: the definition, without the
// four-byte steps or any reliance on wrapping.
uint32_t ReferenceWeakSum(const std::vector<unsigned char>& data) {
  int64_t s1 = 0;
  int64_t s2 = 0;
  for (const unsigned char byte : data) {
    s1 += static_cast<int8_t>(byte);
    s2 += s1;
  }
  const auto low = static_cast<uint32_t>(static_cast<uint64_t>(s1) & 0xFFFF);
  const auto high = static_cast<uint32_t>(static_cast<uint64_t>(s2) << 16);
  return low + high;
}

TEST(DigestMd5, MatchesTheRfc1321TestSuite) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string("\x01\x02\x03", 3), "5289df737df57326fcdd22597afb1fac"},
  };
  for (const auto& c : cases) {
    unsigned char digest[16] = {};
    Md5Digest(c.input.data(), c.input.size(), digest);
    EXPECT_EQ(Hex(digest, 16), c.digest) << "input \"" << c.input << "\"";
  }
}

TEST(DigestWeakSum, KnownValues) {
  const struct {
    std::vector<unsigned char> bytes;
    uint32_t s1, s2, value;
  } cases[] = {
      {{}, 0, 0, 0},
      {{0x01, 0x02, 0x03}, 6, 10, 0x000A0006},
      // 0xFF is -1: both sums wrap to all ones.
      {{0xFF}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
      // Exactly one four-byte step plus one byte: s2 = 1+3+6+10+15.
      {{1, 2, 3, 4, 5}, 15, 35, (35u << 16) + 15},
      // 0x80 is -128, not +128.
      {{0x80, 0x80}, static_cast<uint32_t>(-256), static_cast<uint32_t>(-384),
       (static_cast<uint32_t>(-256) & 0xFFFF) + (static_cast<uint32_t>(-384) << 16)},
  };
  for (const auto& c : cases) {
    const WeakSum sum = ComputeWeakSum(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(sum.s1, c.s1) << c.bytes.size() << " bytes";
    EXPECT_EQ(sum.s2, c.s2) << c.bytes.size() << " bytes";
    EXPECT_EQ(sum.Value(), c.value) << c.bytes.size() << " bytes";
  }
}

TEST(DigestWeakSum, AgreesWithByteByByteSumsForEveryLengthAndByte) {
  std::mt19937 random(20100127);
  std::uniform_int_distribution<int> byte(0, 255);
  // Every length around the four-byte steps, then a full block of random
  // bytes and a full block of 0x80 whose sums overflow 32 bits many times.
  std::vector<std::vector<unsigned char>> inputs;
  for (std::size_t length = 0; length <= 17; ++length) {
    std::vector<unsigned char> data(length);
    for (auto& b : data) b = static_cast<unsigned char>(byte(random));
    inputs.push_back(data);
  }
  std::vector<unsigned char> block(kBlockSize);
  for (auto& b : block) b = static_cast<unsigned char>(byte(random));
  inputs.push_back(block);
  inputs.emplace_back(kBlockSize, 0x80);
  inputs.emplace_back(kBlockSize - 1, 0x7F);

  for (const auto& data : inputs) {
    EXPECT_EQ(ComputeWeakSum(data.data(), data.size()).Value(), ReferenceWeakSum(data))
        << data.size() << " bytes";
  }
}

// Several blocks at once must give each block's own MD5: counts that fill
// whole groups of lanes, leave some over, or fall short of one group; blocks
// of all zeros, all ones and random bytes.
TEST(DigestMd5, ManyBlocksAtOnceEqualOneAtATime) {
  std::mt19937 random(7);
  for (const std::size_t count : {0u, 1u, 7u, 8u, 9u, 16u, 19u}) {
    std::vector<unsigned char> data(count * kBlockSize);
    for (std::size_t i = 0; i < data.size(); ++i) {
      const std::size_t block = i / kBlockSize;
      data[i] = block % 3 == 0 ? 0 : block % 3 == 1 ? 0xFF : static_cast<unsigned char>(random());
    }
    std::vector<unsigned char> together(count * 16, 0xAA);
    Md5OfWholeBlocks(data.data(), count, together.data());
    for (std::size_t block = 0; block < count; ++block) {
      unsigned char alone[16];
      Md5Digest(data.data() + block * kBlockSize, kBlockSize, alone);
      EXPECT_EQ(Hex(together.data() + block * 16, 16), Hex(alone, 16)) << "block " << block << " of " << count;
    }
  }
}

}  // namespace
