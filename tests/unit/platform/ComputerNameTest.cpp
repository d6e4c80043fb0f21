#include "platform/ComputerName.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

TEST(ComputerNameTest, IsTheKernelsNodeName) {
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_EQ(platform::ComputerName(), names.nodename);
  EXPECT_FALSE(platform::ComputerName().empty());
}
