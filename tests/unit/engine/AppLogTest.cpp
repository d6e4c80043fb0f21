#include "engine/AppLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "foundation/Logger.h"
#include "foundation/Util.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

void Age(const std::string& path, int days) {
  const std::time_t then = std::time(nullptr) - days * 86400;
  utimbuf times{then, then};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
}

int Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

class AppLogTest : public testing::Test {
 protected:
  void TearDown() override { platform::RegistryWrite("root_path", ""); }
};

TEST_F(AppLogTest, OpensADatedOwnerOnlyLogUnderTheRootFolderAndPurgesOldOnes) {
  TempDir root;
  ASSERT_TRUE(CUtil::WriteRootPath(root.path()));
  const std::string folder = root / ".log";
  fs::create_directory(folder);
  WriteFile(folder + "/old.log", "x");
  WriteFile(folder + "/young.log", "x");
  WriteFile(folder + "/old.txt", "x");
  Age(folder + "/old.log", 4);
  Age(folder + "/young.log", 2);
  Age(folder + "/old.txt", 4);

  EXPECT_EQ(AppLogFolder(), folder);
  std::unique_ptr<CLogger> logger = OpenAppLog();
  ASSERT_TRUE(logger);
  EXPECT_EQ(logger->GetLevel(), CLogger::kAll);
  const fs::path file(logger->FileName());
  EXPECT_EQ(file.parent_path().string(), folder);
  EXPECT_TRUE(std::regex_match(file.filename().string(), std::regex(R"(\d{4}-\d\d-\d\d-\d\d-\d\d-\d\d\.log)")))
      << file;
  EXPECT_EQ(Mode(file.string()), 0600);
  EXPECT_FALSE(fs::exists(folder + "/old.log"));
  EXPECT_TRUE(fs::exists(folder + "/young.log"));
  EXPECT_TRUE(fs::exists(folder + "/old.txt"));
}

TEST_F(AppLogTest, WithoutARootFolderTheLogGoesToTheStateFolder) {
  platform::RegistryWrite("root_path", "");
  EXPECT_EQ(AppLogFolder(), platform::StateDir() + "/.log");
  std::unique_ptr<CLogger> logger = OpenAppLog();
  ASSERT_TRUE(logger);
  EXPECT_EQ(fs::path(logger->FileName()).parent_path().string(), platform::StateDir() + "/.log");
  EXPECT_EQ(Mode(platform::StateDir() + "/.log"), 0700);
}

TEST_F(AppLogTest, AnUnwritableLogFolderGivesNoLogger) {
  TempDir root;
  ASSERT_TRUE(CUtil::WriteRootPath(root.path()));
  WriteFile(root / ".log", "a file where the folder should be");
  EXPECT_EQ(OpenAppLog(), nullptr);
}

}  // namespace
