#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace {

TEST(CodePageTest, LocaleWithoutACharacterSetFallsBackToUtf8) {
  // Tests run without a configured locale (or with a UTF-8 one): either way
  // plain ASCII must never be the code page file names are held in.
  const std::string page = platform::LocalCodePage();
  EXPECT_FALSE(page.empty());
  EXPECT_NE(page, "ANSI_X3.4-1968");
}

TEST(CodePageTest, OverrideAndRestore) {
  const std::string fromLocale = platform::LocalCodePage();
  platform::SetLocalCodePage("GBK");
  EXPECT_EQ(platform::LocalCodePage(), "GBK");
  EXPECT_FALSE(platform::LocalCodePageIsUtf8());
  for (const char* name : {"UTF-8", "utf-8", "UTF8", "utf8"}) {
    platform::SetLocalCodePage(name);
    EXPECT_TRUE(platform::LocalCodePageIsUtf8()) << name;
  }
  platform::SetLocalCodePage("");
  EXPECT_EQ(platform::LocalCodePage(), fromLocale);
}

}  // namespace
