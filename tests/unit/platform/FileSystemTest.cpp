// The real file-system layer: links are never followed, names never replaced
// by accident, times kept to the tick.
#include "platform/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using platform::EntryType;

platform::IFileSystem& Real() { return platform::RealFileSystem(); }

TEST(FileSystemTest, ListsEntriesWithTheirOwnKindAndTimes) {
  TempDir dir;
  WriteFile(dir / "file.txt", "abc");
  const timespec times[2] = {{0, UTIME_OMIT}, {1264583103, 42123400}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "file.txt").c_str(), times, 0), 0);
  fs::create_directory(dir / "folder");
  fs::create_directory_symlink(dir / "folder", dir / "link");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

  std::vector<platform::FolderEntry> entries;
  ASSERT_EQ(Real().ListFolder(dir.path(), entries), 0);
  std::map<std::string, platform::FileStatus> byName;
  for (const auto& entry : entries) byName[entry.name] = entry.status;
  ASSERT_EQ(byName.size(), 4u);
  EXPECT_EQ(byName["file.txt"].type, EntryType::kFile);
  EXPECT_EQ(byName["file.txt"].size, 3);
  EXPECT_EQ(byName["file.txt"].writeTime, 129090567030421234ULL);
  EXPECT_EQ(byName["folder"].type, EntryType::kFolder);
  EXPECT_EQ(byName["link"].type, EntryType::kLink);
  EXPECT_EQ(byName["pipe"].type, EntryType::kOther);

  EXPECT_EQ(Real().ListFolder(dir / "missing", entries), ENOENT);
}

TEST(FileSystemTest, OpenReadRefusesLinksFoldersAndPipes) {
  TempDir dir;
  WriteFile(dir / "file.txt", "abc");
  fs::create_symlink(dir / "file.txt", dir / "link");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  struct Case {
    std::string name;
    int error;
  };
  for (const Case& c : {Case{"file.txt", 0}, Case{"link", ELOOP}, Case{"pipe", EINVAL}, Case{".", EISDIR}}) {
    int fd = -1;
    EXPECT_EQ(Real().OpenRead(dir / c.name, fd), c.error) << c.name;  // a pipe must not block
    if (fd >= 0) Real().Close(fd);
  }
}

TEST(FileSystemTest, CreateAndRenameReplaceOnlyWhenAsked) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  WriteFile(dir / "b", "b");
  int fd = -1;
  EXPECT_EQ(Real().CreateExclusive(dir / "a", fd), EEXIST);
  EXPECT_EQ(Real().Rename(dir / "a", dir / "b", false), EEXIST);
  EXPECT_EQ(ReadFile(dir / "b"), "b");
  EXPECT_EQ(Real().Rename(dir / "a", dir / "c", false), 0);
  EXPECT_EQ(Real().Rename(dir / "c", dir / "b", true), 0);
  EXPECT_EQ(ReadFile(dir / "b"), "a");
}

TEST(FileSystemTest, SetWriteTimeKeepsTheAccessTimeAndEveryTick) {
  TempDir dir;
  WriteFile(dir / "a", "a");
  platform::FileStatus before;
  ASSERT_EQ(Real().Stat(dir / "a", before), 0);
  ASSERT_EQ(Real().SetWriteTime(dir / "a", 129090567030421234ULL), 0);
  platform::FileStatus after;
  ASSERT_EQ(Real().Stat(dir / "a", after), 0);
  EXPECT_EQ(after.writeTime, 129090567030421234ULL);
  EXPECT_EQ(after.accessTime, before.accessTime);

  platform::FileStatus missing;
  EXPECT_EQ(Real().Stat(dir / "none", missing), 0);
  EXPECT_EQ(missing.type, EntryType::kMissing);
}

}  // namespace
