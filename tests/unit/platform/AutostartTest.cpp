#include "platform/Autostart.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/support/TempDir.h"

TEST(AutostartTest, EnableWritesTheEntryAndDisableRemovesIt) {
  const std::string file = std::string(getenv("XDG_CONFIG_HOME")) + "/autostart/vessa.desktop";
  EXPECT_EQ(platform::AutostartFile(), file);
  std::filesystem::remove_all(std::filesystem::path(file).parent_path());
  EXPECT_FALSE(platform::AutostartEnabled());

  ASSERT_TRUE(platform::EnableAutostart("/opt/vessa/bin/vessa"));  // makes the missing folder
  EXPECT_TRUE(platform::AutostartEnabled());
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExec=\"/opt/vessa/bin/vessa\"\n"), std::string::npos) << text;

  ASSERT_TRUE(platform::DisableAutostart());
  EXPECT_FALSE(platform::AutostartEnabled());
  EXPECT_TRUE(platform::DisableAutostart());  // nothing left to remove is fine
}

TEST(AutostartTest, ExecValueQuotesAndEscapesThePath) {
  struct Case {
    const char* program;
    const char* exec;
  };
  const Case cases[] = {
      {"/usr/bin/vessa", R"("/usr/bin/vessa")"},
      {"/home/a b/vessa", R"("/home/a b/vessa")"},
      {"/x/$HOME`id`\"q\"/vessa", R"("/x/\\$HOME\\`id\\`\\"q\\"/vessa")"},
      {"/x/back\\slash/50%", R"("/x/back\\\\slash/50%%")"},
  };
  for (const Case& c : cases) EXPECT_EQ(platform::AutostartExecValue(c.program), c.exec) << c.program;
}

TEST(AutostartTest, PathWithLineBreakIsRefused) {
  platform::DisableAutostart();
  EXPECT_FALSE(platform::EnableAutostart("/tmp/evil\nExec=/bin/sh"));
  EXPECT_FALSE(platform::AutostartEnabled());
}
