// The shared status block, the file cache's status walks and vessa-status.
#include <stdio.h>
#include <sys/wait.h>

#include "store/FileJournal.h"
#include "tests/unit/store/FileCacheFixture.h"

namespace {

// The block's form of a path below the root.
std::string Key(const std::string& path) { return CFileJournal::ToKey(path); }

TEST(SharedFileStatusTest, UpdatesFieldsAppendsNewPathsAndRefusesLongOnes) {
  const std::string name = UniqueBlockName();
  {
    CSharedFileStatus block;
    ASSERT_EQ(block.Create(name), 1);
    block.Clear();
    ASSERT_EQ(block.Update("/Root/A.txt", 2, 100, 4), 1);
    ASSERT_EQ(block.Update("/root/a.txt", -1, -1, 8), 1);  // the same entry: paths are lower-cased
    ASSERT_EQ(block.Update("/root/b.txt", 1, -1, -1), 1);
    EXPECT_EQ(block.Update("/" + std::string(259, 'x'), 1, -1, -1), 0);
    EXPECT_EQ(block.Update("/" + std::string(258, 'y'), 1, -1, -1), 1);

    std::map<std::string, SharedStatusEntry> entries = StatusEntries(name);
    ASSERT_EQ(entries.size(), 3u);
    const SharedStatusEntry& a = entries.at("/root/a.txt");
    EXPECT_EQ(a.status, 2);
    EXPECT_EQ(a.total, 100);
    EXPECT_EQ(a.done, 8);
    const SharedStatusEntry& b = entries.at("/root/b.txt");
    EXPECT_EQ(b.total, 0);  // a new entry's unset fields read 0, not an older entry's bytes
    EXPECT_EQ(b.done, 0);

    block.Clear();
    ASSERT_EQ(block.Update("/root/c.txt", 3, -1, -1), 1);
    platform::CSharedMemory view;
    ASSERT_TRUE(view.OpenReadOnly(name, kStatusBlockSize));
    const auto* bytes = static_cast<const unsigned char*>(view.data());
    EXPECT_EQ(*reinterpret_cast<const int32_t*>(bytes), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 4 + 4), "/root/c.txt");  // entry 0, after its status
  }
  EXPECT_TRUE(StatusEntries(name).empty());  // destruction clears the count
  platform::CSharedMemory::Unlink(name);
}

TEST_F(FileCacheTest, StatusWalksUpToTheRootButNotIntoIt) {
  ASSERT_EQ(cache.SetPathStatus("/A/b/c.txt", 2), 1);
  std::map<std::string, SharedStatusEntry> entries = StatusEntries(block);
  EXPECT_EQ(entries.size(), 3u);
  for (const char* rel : {"/a/b/c.txt", "/a/b", "/a"}) EXPECT_EQ(entries[Key(root) + rel].status, 2) << rel;

  ASSERT_EQ(cache.SetPathStatus("/a/b/c.txt", 3), 1);
  entries = StatusEntries(block);
  EXPECT_EQ(entries[Key(root) + "/a/b/c.txt"].status, 3);
  EXPECT_EQ(entries[Key(root) + "/a/b"].status, 2);

  for (const std::string& refused : {std::string(""), std::string("/"), root}) {
    EXPECT_EQ(cache.SetPathStatus(refused, 2), 0) << refused;
  }
  EXPECT_EQ(StatusEntries(block).size(), 3u);
}

TEST_F(FileCacheTest, StatusUpToStopsAtTheFoldersThePathsShare) {
  ASSERT_EQ(cache.SetStatusUpTo("/a/b/c/d.txt", 3, At("/a/b/x")), 1);
  std::map<std::string, SharedStatusEntry> entries = StatusEntries(block);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.count(Key(root) + "/a/b/c/d.txt"), 1u);
  EXPECT_EQ(entries.count(Key(root) + "/a/b/c"), 1u);

  // "/a/bc" is no folder of "/a/b/x", though its text begins the same way.
  ASSERT_EQ(cache.SetStatusUpTo("/a/bc/e.txt", 3, At("/a/b/x")), 1);
  EXPECT_EQ(StatusEntries(block).count(Key(root) + "/a/bc"), 1u);

  ASSERT_EQ(cache.SetStatusUpTo("/a/b/c/d.txt", 1, ""), 1);
  entries = StatusEntries(block);
  for (const char* rel : {"/a/b/c/d.txt", "/a/b/c", "/a/b", "/a"}) EXPECT_EQ(entries[Key(root) + rel].status, 1) << rel;
  EXPECT_EQ(entries.count(Key(root)), 0u);
}

TEST_F(FileCacheTest, StatusRecordRewritesOnlyTheEntryForTheSamePath) {
  ASSERT_EQ(cache.SetStatusRecord("/a/x.bin", 2, 100, 4), 1);
  ASSERT_EQ(cache.SetStatusRecord("/a/x.bin", 2, 100, 8), 1);
  std::map<std::string, SharedStatusEntry> entries = StatusEntries(block);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[Key(root) + "/a/x.bin"].done, 8);
  EXPECT_EQ(entries[Key(root) + "/a"].status, 2);
  EXPECT_EQ(entries[Key(root) + "/a"].total, 0);  // folders get no progress

  ASSERT_EQ(cache.SetStatusRecord("/b/y.bin", 2, 50, 0), 1);
  entries = StatusEntries(block);
  EXPECT_EQ(entries[Key(root) + "/a"].status, 3);  // the upload left /a
  EXPECT_EQ(entries[Key(root) + "/b"].status, 2);
}

// Runs vessa-status and returns what it printed; `status` gets its exit code.
std::string RunStatusTool(const std::string& arguments, int& status) {
  FILE* pipe = popen((std::string(VESSA_STATUS_PROGRAM) + " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string output;
  char buffer[512];
  while (pipe && fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int result = pipe ? pclose(pipe) : -1;
  status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

TEST_F(FileCacheTest, StatusToolPrintsEntriesUnderAPrefix) {
  cache.SetPathStatus("/docs/a.txt", 2);
  cache.SetStatusRecord("/docs/big.bin", 2, 70000000, 8);
  cache.SetPathStatus("/docsx/c.txt", 1);

  int status = -1;
  const std::string base = Key(root);
  EXPECT_EQ(RunStatusTool("--block " + block + " '" + root + "/Docs/'", status),
            base + "/docs/a.txt\t2\t0\t0\n" + base + "/docs\t2\t0\t0\n" + base + "/docs/big.bin\t2\t70000000\t8\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(RunStatusTool("--block " + block, status).size(),
            RunStatusTool("--block " + block + " '" + root + "'", status).size());

  RunStatusTool("--block /vessa-test-no-such-block", status);
  EXPECT_EQ(status, 1);
}

// The summary says what a person wants to know of the folder at a glance.
TEST_F(FileCacheTest, StatusToolSummarisesTheFolder) {
  const std::string base = Key(root);
  int status = -1;
  const auto summary = [&] { return RunStatusTool("--block " + block + " --summary", status); };
  cache.SetPathStatus("/docs/a.txt", 3);
  EXPECT_EQ(summary(), "synced\n");
  ASSERT_EQ(cache.SetPathLeftOut("/docs/a\\b.txt"), 1);
  ASSERT_EQ(cache.SetPathLeftOut("/deep"), 1);
  EXPECT_EQ(summary(), "synced except 2 entries\n  " + base + "/docs/a\\b.txt\n  " + base + "/deep\n");
  cache.SetPathStatus("/new.txt", 1);
  EXPECT_EQ(summary(), "1 entries changed locally\n");
  cache.SetPathStatus("/new.txt", 2);
  EXPECT_EQ(summary(), "syncing\n");
  EXPECT_EQ(status, 0);
}

}  // namespace
