#include "platform/FileTime.h"

#include <gtest/gtest.h>

namespace {

TEST(FileTimeTest, ConvertsBothWaysAtTickPrecision) {
  struct Case {
    timespec time;
    FileTime ticks;
  };
  const Case cases[] = {
      {{0, 0}, 116444736000000000ULL},
      // 2010-01-27 09:05:03.0421234 UTC
      {{1264583103, 42123400}, 129090567030421234ULL},
      {{4102444800, 999999900}, 116444736000000000ULL + 4102444800ULL * 10000000ULL + 9999999ULL},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToFileTime(c.time), c.ticks);
    const timespec back = ToTimespec(c.ticks);
    EXPECT_EQ(back.tv_sec, c.time.tv_sec);
    EXPECT_EQ(back.tv_nsec, c.time.tv_nsec);
  }
  // Nanoseconds below one tick are dropped, not rounded up.
  EXPECT_EQ(ToFileTime({1, 199}), 116444736000000000ULL + 10000001ULL);
  // Before 1970: clamped to the epoch rather than wrapped.
  EXPECT_EQ(ToFileTime({-5, 0}), kFileTimeUnixEpoch);
  EXPECT_EQ(ToTimespec(12).tv_sec, 0);
}

}  // namespace
