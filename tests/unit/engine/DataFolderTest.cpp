// Where the settings live, known before the engine starts: the registry's
// root folder, else $HOME/Vessa; the engine opens client.db right there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/Work.h"
#include "foundation/Util.h"
#include "platform/Registry.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TempDir.h"

namespace {

class DataFolderTest : public testing::Test {
 protected:
  void TearDown() override { platform::RegistryWrite("root_path", ""); }
};

TEST_F(DataFolderTest, TheRegistryRootElseTheHomeFolder) {
  platform::RegistryWrite("root_path", "");
  EXPECT_EQ(CWork::DataFolder(), std::string(std::getenv("HOME")) + "/Vessa");

  TempDir root;
  ASSERT_TRUE(CUtil::WriteRootPath(root.path()));
  EXPECT_EQ(CWork::DataFolder(), root.path());
  EXPECT_FALSE(std::filesystem::exists(root / ".db"));  // finding creates nothing

  RecordingSink sink;
  {
    CWork work(sink, sink);
    ASSERT_EQ(work.Init(), 1);
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(CWork::DataFolder() + "/.db/client.db"));
}

}  // namespace
