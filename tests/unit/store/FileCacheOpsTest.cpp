// File operations and folder icon files.
#include <filesystem>
#include <functional>

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/unit/store/FileCacheFixture.h"

namespace {

namespace fs = std::filesystem;

TEST_F(FileCacheTest, MkDirMakesOneFolderAndAcceptsAnExistingOne) {
  ASSERT_EQ(cache.MkDir("/docs"), 1);
  EXPECT_TRUE(fs::is_directory(At("/docs")));
  EXPECT_TRUE(log.Contains("make a new folder: " + At("/docs")));

  WriteFile(At("/docs/a.txt"), "a");
  EXPECT_EQ(cache.MkDir(At("/docs")), 1);
  EXPECT_TRUE(log.Contains("folder {" + At("/docs") + "} exists"));
  EXPECT_EQ(ReadFile(At("/docs/a.txt")), "a");

  EXPECT_EQ(cache.MkDir("/missing/parent"), 0);
  EXPECT_TRUE(log.Contains("Fail to create a folder: " + At("/missing/parent")));
}

TEST_F(FileCacheTest, RemoveTakesReadOnlyFilesAndWholeFoldersButNoLinkTargets) {
  WriteFile(At("/ro.txt"), "r");
  fs::permissions(At("/ro.txt"), fs::perms::owner_read);
  EXPECT_EQ(cache.Remove("/ro.txt"), 1);
  EXPECT_FALSE(fs::exists(At("/ro.txt")));
  EXPECT_TRUE(log.Contains("Remove a local file: " + At("/ro.txt")));

  TempDir outside;
  WriteFile(outside / "keep.txt", "keep");
  fs::create_directories(At("/docs/sub"));
  WriteFile(At("/docs/sub/a.txt"), "a");
  fs::create_directory_symlink(outside.path(), At("/docs/link"));
  EXPECT_EQ(cache.Remove("/docs"), 1);
  EXPECT_FALSE(fs::exists(At("/docs")));
  EXPECT_EQ(ReadFile(outside / "keep.txt"), "keep");
  EXPECT_TRUE(log.Contains("Remove a local folder: " + At("/docs")));

  EXPECT_EQ(cache.Remove("/never-there.txt"), 0);
}

TEST_F(FileCacheTest, RenameNeverReplacesAnExistingTarget) {
  WriteFile(At("/a.txt"), "a");
  WriteFile(At("/b.txt"), "b");
  EXPECT_EQ(cache.Rename("/a.txt", "/b.txt"), 0);
  EXPECT_TRUE(log.Contains("Fail to rename \"" + At("/a.txt") + "\" to \"" + At("/b.txt") + "\""));
  EXPECT_EQ(ReadFile(At("/a.txt")), "a");
  EXPECT_EQ(ReadFile(At("/b.txt")), "b");

  EXPECT_EQ(cache.Rename("/a.txt", "/A.txt"), 1);
  EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"A.txt", "b.txt"}));
}

TEST_F(FileCacheTest, CopyReplacesTheTargetAndKeepsTheModifyTime) {
  WriteFile(At("/a.txt"), "new content");
  SetModifyTime(At("/a.txt"), 1264583103, 42123400);
  WriteFile(At("/b.txt"), "old");

  ASSERT_EQ(cache.Copy("/a.txt", "/b.txt"), 1);
  EXPECT_EQ(ReadFile(At("/b.txt")), "new content");
  CFileInfo copy;
  ASSERT_EQ(cache.StatLocal("/b.txt", copy), 1);
  EXPECT_EQ(copy.mtime, 129090567030421234LL);

  EXPECT_EQ(cache.Copy("/missing.txt", "/c.txt"), 0);
  EXPECT_TRUE(log.Contains("[CFileCache::Copy]: Fail to rename \"" + At("/missing.txt") + "\" to \"" + At("/c.txt")));
  EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(FileCacheTest, SetFileTimeSetsFilesAndSkipsFolders) {
  CFileInfo folder("/not/even/there", 1, 0);
  EXPECT_EQ(cache.SetFileTime(folder), 1);

  WriteFile(At("/a.txt"), "a");
  CFileInfo file("/a.txt", 0, 1);
  file.mtime = 129090567030421234LL;
  ASSERT_EQ(cache.SetFileTime(file), 1);
  CFileInfo stat;
  ASSERT_EQ(cache.StatLocal("/a.txt", stat), 1);
  EXPECT_EQ(stat.mtime, file.mtime);

  file.path = "/missing.txt";
  EXPECT_EQ(cache.SetFileTime(file), 0);
  EXPECT_TRUE(log.Contains("Fail to open a localfile {" + At("/missing.txt") + "}"));
}

TEST_F(FileCacheTest, FolderIconFilesNameTheIconAndTheOwner) {
  ASSERT_TRUE(platform::RegistryWrite("install_path", "/opt/vessa"));
  fs::create_directory(At("/shared"));
  struct Case {
    std::function<int()> write;
    std::string folder;
    std::string text;
  };
  const Case cases[] = {
      {[&] { return cache.SetHomeIcon(root); }, root,
       "[.ShellClassInfo]\r\nIconFile=/opt/vessa/res/Home.ico\r\nIconIndex=0\r\nInfoTip=vessa\r\n"},
      {[&] { return cache.SetShareIcon("/shared", true, "alice"); }, At("/shared"),
       "[.ShellClassInfo]\r\nIconFile=/opt/vessa/res/ShareTo.ico\r\nIconIndex=0\r\nInfoTip=share from alice\r\n"},
      {[&] { return cache.SetShareIcon("/shared", false, ""); }, At("/shared"),
       "[.ShellClassInfo]\r\nIconFile=/opt/vessa/res/ShareFrom.ico\r\nIconIndex=0\r\nInfoTip=vessa\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.write(), 1);
    EXPECT_EQ(ReadFile(c.folder + "/desktop.ini"), c.text);
  }
  EXPECT_EQ(cache.RemoveFolderIcon("/shared"), 1);
  EXPECT_FALSE(fs::exists(At("/shared/desktop.ini")));

  // Without a registered install folder: the program's resources.
  ASSERT_TRUE(platform::RegistryWrite("install_path", ""));
  cache.SetHomeIcon(root);
  EXPECT_NE(ReadFile(root + "/desktop.ini").find("IconFile=" + platform::DefaultInstallDir() + "/res/Home.ico"),
            std::string::npos);
}

TEST_F(FileCacheTest, MarkerThatCannotBeWrittenIsReported) {
  int prompts = 0;
  cache.SetErrorPrompt([&](const std::string&) { return ++prompts; });
  fs::create_directory(At("/shared"));
  fs.Fail(FaultyFileSystem::Op::kCreate, "/shared/", EACCES);
  EXPECT_EQ(cache.SetShareFolder("/shared", "77"), 0);
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(log.Contains("[CFileCache::_SetShareFolder]: Fail to creat file \"" + At("/shared/.vessashare") + "\""));
  EXPECT_TRUE(FolderNames(At("/shared")).empty());
}

}  // namespace
