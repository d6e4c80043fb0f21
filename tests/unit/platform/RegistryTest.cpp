#include "platform/Registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/Paths.h"
#include "tests/support/TempDir.h"

namespace {

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::remove_all(platform::ConfigDir()); }
  void TearDown() override { std::filesystem::remove_all(platform::ConfigDir()); }
};

TEST_F(RegistryTest, MissingFileOrValueDoesNotRead) {
  std::string value = "untouched";
  EXPECT_FALSE(platform::RegistryRead("root_path", 160, value));
  ASSERT_TRUE(platform::RegistryWrite("install_path", "/opt/vessa"));
  EXPECT_FALSE(platform::RegistryRead("root_path", 160, value));
  EXPECT_EQ(value, "untouched");
}

TEST_F(RegistryTest, WriteCreatesAPrivateFileAndReplacesOnlyItsValue) {
  ASSERT_TRUE(platform::RegistryWrite("install_path", "/opt/vessa"));
  ASSERT_TRUE(platform::RegistryWrite("root_path", "/home/u/Vessa"));
  ASSERT_TRUE(platform::RegistryWrite("root_path", "/data/Vessa=new"));
  EXPECT_EQ(ReadFile(platform::RegistryFile()), "install_path=/opt/vessa\nroot_path=/data/Vessa=new\n");

  std::string value;
  EXPECT_TRUE(platform::RegistryRead("root_path", 160, value));
  EXPECT_EQ(value, "/data/Vessa=new");

  struct stat info {};
  ASSERT_EQ(stat(platform::RegistryFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(platform::ConfigDir().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(RegistryTest, ValueMustFitTheReadBufferWithItsTerminator) {
  ASSERT_TRUE(platform::RegistryWrite("fits", std::string(79, 'a')));
  ASSERT_TRUE(platform::RegistryWrite("too_long", std::string(80, 'a')));
  std::string value;
  EXPECT_TRUE(platform::RegistryRead("fits", 80, value));
  EXPECT_EQ(value.size(), 79u);
  EXPECT_FALSE(platform::RegistryRead("too_long", 80, value));
  EXPECT_TRUE(platform::RegistryRead("too_long", 81, value));
}

TEST_F(RegistryTest, LineBreaksAndBadNamesAreRefused) {
  EXPECT_FALSE(platform::RegistryWrite("root_path", "/a\nroot_path=/evil"));
  EXPECT_FALSE(platform::RegistryWrite("a=b", "x"));
  EXPECT_FALSE(platform::RegistryWrite("", "x"));
  EXPECT_FALSE(platform::RegistryWrite("a\rb", "x"));
  std::string value;
  EXPECT_FALSE(platform::RegistryRead("root_path", 160, value));
}

}  // namespace
