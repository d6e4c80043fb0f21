// Set-up, path forms, the scan of the root, single-entry stats, share markers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/unit/store/FileCacheFixture.h"

namespace {

namespace fs = std::filesystem;

int CountOf(const std::string& text, const std::string& fragment) {
  int count = 0;
  for (std::size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++count;
  return count;
}

std::vector<std::string> ScannedPaths(CFileCache& cache) {
  std::vector<std::string> paths;
  CFileInfo info;
  for (int more = cache.FirstLocal(info); more; more = cache.NextLocal(info)) paths.push_back(info.path);
  return paths;
}

TEST_F(FileCacheTest, PathFormsTestTheRootOnANameBoundary) {
  struct Case {
    std::string in;
    int localResult;
    std::string local;
    int relativeResult;
    std::string relative;
  };
  const Case cases[] = {
      {"docs/a.txt", 1, root + "/docs/a.txt", 0, "docs/a.txt"},
      {"/docs/a.txt", 1, root + "/docs/a.txt", 0, "/docs/a.txt"},
      {root + "/docs/a.txt", 0, root + "/docs/a.txt", 1, "/docs/a.txt"},
      {root, 0, root, 1, ""},
      // A sibling whose name merely begins like the root is not below it.
      {root + "x/a.txt", 1, root + root + "x/a.txt", 0, root + "x/a.txt"},
      // Names differ by letter case on Linux.
      {dir / "ROOT/a", 1, root + dir / "ROOT/a", 0, dir / "ROOT/a"},
  };
  for (const Case& c : cases) {
    std::string local = c.in;
    EXPECT_EQ(cache.MakeLocalPath(local), c.localResult) << c.in;
    EXPECT_EQ(local, c.local) << c.in;
    std::string relative = c.in;
    EXPECT_EQ(cache.MakeRootRelative(relative), c.relativeResult) << c.in;
    EXPECT_EQ(relative, c.relative) << c.in;
  }
}

TEST_F(FileCacheTest, SetUpCreatesFoldersAndRefusesEmptyPaths) {
  EXPECT_TRUE(fs::is_directory(root));
  EXPECT_EQ(fs::status(cacheFolder).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(cache.SetRoot(""), 0);
  EXPECT_TRUE(log.Contains("[CFileCache::SetRoot]: Fail to creat a path NULL"));

  fs.Fail(FaultyFileSystem::Op::kMakeFolder, "nofolder", EACCES);
  EXPECT_EQ(cache.SetFolder(dir / "nofolder"), 0);
  EXPECT_TRUE(log.Contains("Fail to creat directory \"" + dir / "nofolder" + "\""));

  WriteFile(cacheFolder + "/0123456789abcdef0123456789abcdef", "x");
  EXPECT_EQ(cache.CleanCache(), 1);
  EXPECT_TRUE(fs::is_directory(cacheFolder));
  EXPECT_TRUE(fs::is_empty(cacheFolder));
}

TEST_F(FileCacheTest, ScanRecordsEntriesAndSkipsMarkersAndIconFiles) {
  fs::create_directories(At("/Docs/sub"));
  WriteFile(At("/a.txt"), "hello");
  SetModifyTime(At("/a.txt"), 1264583103, 42123400);
  WriteFile(At("/Docs/B.bin"), "12");
  for (const char* skipped : {"/desktop.ini", "/.vessashare", "/Docs/desktop.ini"}) WriteFile(At(skipped), "1");
  WriteFile(At("/Desktop.ini"), "kept: the name differs in case");
  cache.SetPathMark("/docs/b.BIN", 1);

  ASSERT_EQ(cache.ScanRoot(), 1);
  EXPECT_EQ(ScannedPaths(cache),
            (std::vector<std::string>{"/a.txt", "/Desktop.ini", "/Docs", "/Docs/B.bin", "/Docs/sub"}));
  CFileInfo file;
  ASSERT_EQ(cache.FindLocal("/A.TXT", file), 1);
  EXPECT_EQ(file.dir, 0);
  EXPECT_EQ(file.size, 5);
  EXPECT_EQ(file.mtime, 129090567030421234LL);
  EXPECT_EQ(file.writeTime, 129090567030421234ULL);
  CFileInfo folder;
  ASSERT_EQ(cache.FindLocal("/docs", folder), 1);
  EXPECT_EQ(folder.dir, 1);
  EXPECT_EQ(folder.mtime, 1);
  CFileInfo marked;
  ASSERT_EQ(cache.FindLocal("/docs/b.bin", marked), 1);
  EXPECT_EQ(marked.mark, 1);
  EXPECT_EQ(file.mark, 0);
  EXPECT_TRUE(log.Contains("Local FS: /Docs/B.bin  (2)"));
}

TEST_F(FileCacheTest, ScanStopsThirtyTwoLevelsBelowTheRoot) {
  std::string rel;
  for (int level = 1; level <= 40; ++level) rel += "/l" + std::to_string(level);
  fs::create_directories(At(rel));

  ASSERT_EQ(cache.ScanRoot(), 1);
  const std::vector<std::string> paths = ScannedPaths(cache);
  EXPECT_EQ(paths.size(), 32u);
  std::string deepest;
  for (int level = 1; level <= 32; ++level) deepest += "/l" + std::to_string(level);
  CFileInfo info;
  EXPECT_EQ(cache.FindLocal(deepest, info), 1);
  EXPECT_EQ(cache.FindLocal(deepest + "/l33", info), 0);
  EXPECT_EQ(CountOf(log.Text(), "Deepth fo dirctory is too large"), 1);
}

TEST_F(FileCacheTest, SecondFolderWithTheSameShareIdLosesItsMarker) {
  for (const char* name : {"/one", "/two", "/odd"}) {
    fs::create_directory(At(name));
    WriteFile(At(name) + "/desktop.ini", "[.ShellClassInfo]\r\n");
  }
  WriteFile(At("/one/.vessashare"), "77");
  WriteFile(At("/two/.vessashare"), "77");
  WriteFile(At("/odd/.vessashare"), "not a number");

  ASSERT_EQ(cache.ScanRoot(), 1);
  CFileInfo one;
  CFileInfo two;
  CFileInfo odd;
  ASSERT_TRUE(cache.FindLocal("/one", one) && cache.FindLocal("/two", two) && cache.FindLocal("/odd", odd));
  EXPECT_EQ(odd.dir, 1);
  ASSERT_EQ(std::min(one.dir, two.dir), 1);
  ASSERT_EQ(std::max(one.dir, two.dir), 77);
  const std::string keeper = one.dir == 77 ? "/one" : "/two";
  const std::string loser = one.dir == 77 ? "/two" : "/one";
  EXPECT_EQ(FolderNames(At(keeper)), (std::vector<std::string>{".vessashare", "desktop.ini"}));
  EXPECT_TRUE(FolderNames(At(loser)).empty());
  std::string sharePath;
  ASSERT_EQ(cache.FindScannedShare("77", sharePath), 1);
  EXPECT_EQ(sharePath, At(keeper));
}

TEST_F(FileCacheTest, ScanNeverFollowsOrRecordsSymbolicLinks) {
  TempDir outside;
  WriteFile(outside / "secret.txt", "outside");
  WriteFile(At("/a.txt"), "a");
  fs::create_directory_symlink(root, At("/loop"));
  fs::create_directory_symlink(outside.path(), At("/out"));
  fs::create_symlink(At("/a.txt"), At("/alias.txt"));

  ASSERT_EQ(cache.ScanRoot(), 1);
  ASSERT_EQ(cache.ScanRoot(), 1);
  EXPECT_EQ(ScannedPaths(cache), (std::vector<std::string>{"/a.txt"}));
  // Each link is logged once, not at every scan.
  EXPECT_EQ(CountOf(log.Text(), "Skip symbolic link: "), 3);
  CFileInfo info;
  EXPECT_EQ(cache.StatLocal("/out", info), 0);
}

TEST_F(FileCacheTest, LookupOfOneEntryMatchesWhatTheScanRecords) {
  TempDir outside;
  WriteFile(outside / "secret.txt", "outside");
  fs::create_directories(At("/Docs/sub"));
  WriteFile(At("/Docs/B.bin"), "bb");
  WriteFile(At("/a.txt"), "a");
  fs::create_directory(At("/share"));
  WriteFile(At("/share/.vessashare"), "77");
  WriteFile(At("/share/desktop.ini"), "[.ShellClassInfo]\r\n");
  fs::create_directory_symlink(outside.path(), At("/out"));
  fs::create_symlink(At("/a.txt"), At("/alias.txt"));
  std::string deep;
  for (int level = 1; level <= 33; ++level) deep += "/l" + std::to_string(level);
  fs::create_directories(At(deep));
  const std::string deepest = deep.substr(0, deep.rfind('/'));
  ASSERT_EQ(cache.ScanRoot(), 1);
  const std::string temporary = "/Docs/" + NewTemporaryName();
  WriteFile(At(temporary), "half");  // after the scan, which removes such files

  const char* paths[] = {"/a.txt", "/Docs", "/Docs/B.bin", "/Docs/sub", "/share", "/share/.vessashare",
                         "/share/desktop.ini", "/out", "/out/secret.txt", "/alias.txt", "/missing"};
  std::vector<std::string> all(std::begin(paths), std::end(paths));
  all.push_back(temporary);
  all.push_back(deepest);
  all.push_back(deep);
  for (const std::string& path : all) {
    SCOPED_TRACE(path);
    CFileInfo scanned;
    CFileInfo looked;
    const int found = cache.FindLocal(path, scanned);
    ASSERT_EQ(cache.LookupLocal(path, looked), found);
    if (!found) continue;
    EXPECT_EQ(looked.path, scanned.path);
    EXPECT_EQ(looked.dir, scanned.dir);
    EXPECT_EQ(looked.size, scanned.size);
    EXPECT_EQ(looked.mtime, scanned.mtime);
  }
  CFileInfo share;
  ASSERT_EQ(cache.LookupLocal(At("/share"), share), 1);  // absolute paths too
  EXPECT_EQ(share.path, "/share");
  EXPECT_EQ(share.dir, 77);
}

// Only names this program made are its leftovers: a user's file that merely
// begins like one is synchronised and kept.
TEST_F(FileCacheTest, ScanRemovesOnlyTheTemporaryFilesThisProgramMade) {
  fs::create_directory(At("/docs"));
  const std::string leftover = NewTemporaryName();
  ASSERT_TRUE(IsTemporaryName(leftover));
  WriteFile(At("/docs/" + leftover), "half a download");
  WriteFile(At("/docs/kept.txt"), "k");
  const std::vector<std::string> usersOwn = {".vessatmp-notes.txt", ".vessatmp-k3j4h5g6",
                                             leftover.substr(0, leftover.size() - 1) + (leftover.back() == '0' ? '1' : '0'),
                                             leftover + ".txt", ".vessatmp-"};
  for (const std::string& name : usersOwn) {
    EXPECT_FALSE(IsTemporaryName(name)) << name;
    WriteFile(At("/docs/" + name), "the user's");
  }

  ASSERT_EQ(cache.ScanRoot(), 1);
  std::vector<std::string> kept = {"kept.txt"};
  kept.insert(kept.end(), usersOwn.begin(), usersOwn.end());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(FolderNames(At("/docs")), kept);
  std::vector<std::string> scanned = {"/docs"};
  for (const std::string& name : kept) scanned.push_back("/docs/" + name);
  std::vector<std::string> found = ScannedPaths(cache);
  std::sort(scanned.begin(), scanned.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, scanned);
}

TEST_F(FileCacheTest, ScanFailsWhenAFolderCannotBeListed) {
  fs::create_directories(At("/locked/inner"));
  WriteFile(At("/free.txt"), "f");
  fs.Fail(FaultyFileSystem::Op::kList, "/locked", EACCES);

  // Its content would otherwise look deleted to the engine.
  EXPECT_EQ(cache.ScanRoot(), 0);
  CFileInfo info;
  EXPECT_EQ(cache.FindLocal("/free.txt", info), 0);
  EXPECT_TRUE(log.Contains("Fail to list folder \"" + At("/locked") + "\" error :13"));
}

TEST_F(FileCacheTest, ScanCreatesAMissingRootAndRefusesAFile) {
  fs::remove(root);
  EXPECT_EQ(cache.ScanRoot(), 1);
  EXPECT_TRUE(fs::is_directory(root));

  fs::remove(root);
  WriteFile(root, "not a folder");
  EXPECT_EQ(cache.ScanRoot(), 0);
  EXPECT_TRUE(log.Contains("[CFileCache::ScanRoot]: Fail to open root path \"" + root + "\""));
}

TEST_F(FileCacheTest, StatLocalDescribesOneEntry) {
  fs::create_directory(At("/docs"));
  WriteFile(At("/docs/a.txt"), "abc");
  SetModifyTime(At("/docs/a.txt"), 1264583103, 42123400);

  CFileInfo file;
  ASSERT_EQ(cache.StatLocal("/docs/a.txt", file), 1);
  EXPECT_EQ(file.path, At("/docs/a.txt"));
  EXPECT_EQ(file.dir, 0);
  EXPECT_EQ(file.size, 3);
  EXPECT_EQ(file.mtime, 129090567030421234LL);
  CFileInfo folder;
  ASSERT_EQ(cache.StatLocal(At("/docs"), folder), 1);
  EXPECT_EQ(folder.dir, 1);
  EXPECT_EQ(folder.mtime, 1);
  CFileInfo missing;
  EXPECT_EQ(cache.StatLocal("/nothing", missing), 0);
}

TEST_F(FileCacheTest, ShareMarkerHoldsTheIdAndReadsAtMost128Bytes) {
  fs::create_directory(At("/shared"));
  ASSERT_EQ(cache.SetShareFolder("/shared", "1234"), 1);
  EXPECT_EQ(ReadFile(At("/shared/.vessashare")), "1234");
  std::string id;
  ASSERT_EQ(cache._GetShareFolder(At("/shared"), id), 1);
  EXPECT_EQ(id, "1234");

  WriteFile(At("/shared/.vessashare"), std::string(200, '5'));
  ASSERT_EQ(cache._GetShareFolder(At("/shared"), id), 1);
  EXPECT_EQ(id, std::string(128, '5'));

  EXPECT_EQ(cache._GetShareFolder(root, id), 0);  // no marker: no log either
  EXPECT_FALSE(log.Contains("Fail to open file"));
  EXPECT_EQ(cache.RemoveShareMarker("/shared"), 1);
  EXPECT_FALSE(fs::exists(At("/shared/.vessashare")));
}

}  // namespace
