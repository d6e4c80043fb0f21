#include <gtest/gtest.h>

#include <string>

#include "foundation/Logger.h"
#include "store/FileJournal.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/unit/store/JournalTestSupport.h"

namespace {

// A journal with server root R whose journal share map holds 77 -> R/from Ann.
class ServerPathTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(journal_.SetServerRoot("R"), 1);
    journal_.SetDBShare("77", "R/from Ann");
  }

  LogCapture log_;
  CFileJournal journal_;
};

TEST_F(ServerPathTest, ServerRootIsKeptUnlessEmpty) {
  EXPECT_EQ(journal_.SetServerRoot(""), 0);
  EXPECT_EQ(journal_.GetServerRoot(), "R");
  EXPECT_EQ(journal_.SetServerRoot("Root2"), 1);
  EXPECT_EQ(journal_.GetServerRoot(), "Root2");
}

struct ParseCase {
  const char* path;
  int result;
  const char* root;
  const char* rest;
};

TEST_F(ServerPathTest, ParseServerPathSplitsAtTheFirstSlash) {
  const ParseCase cases[] = {
      {"R/docs/a.txt", 1, "R", "/docs/a.txt"},
      {"77/x.txt", 1, "77", "/x.txt"},
      {"R/", 1, "R", "/"},
      {"R", 0, "", ""},
      {"/docs", 0, "", ""},
      {"", 0, "", ""},
  };
  for (const ParseCase& c : cases) {
    std::string root;
    std::string rest;
    EXPECT_EQ(journal_.ParseServerPath(c.path, root, rest), c.result) << c.path;
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(rest, c.rest) << c.path;
  }
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::ParseServerPath", "Fail to parse server file: R")));
}

struct ConversionCase {
  const char* in;
  int result;
  const char* out;
};

TEST_F(ServerPathTest, TrimDBServerPahGivesTheRootRelativePath) {
  const ConversionCase cases[] = {
      {"R/docs/a.txt", 1, "/docs/a.txt"},
      {"R\\docs\\a.txt", 1, "/docs/a.txt"},
      {"R/", 1, "/"},
      {"77/x.txt", 1, "/from Ann/x.txt"},
      {"77/sub/y.txt", 1, "/from Ann/sub/y.txt"},
      {"R", 0, "R"},
      {"88/x.txt", 0, "88/x.txt"},  // an unknown share: the path is given back whole
      {"", 0, ""},
  };
  for (const ConversionCase& c : cases) {
    std::string path = c.in;
    EXPECT_EQ(journal_.TrimDBServerPah(path), c.result) << c.in;
    EXPECT_EQ(path, c.out) << c.in;
  }
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kInfo, "CFileJournal::TrimDBServerPah", "Fail to get server root R for file: R")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kInfo, "CFileJournal::TrimDBServerPah", "Fail to get share folder: 88")));
}

TEST_F(ServerPathTest, MakeDBServerPathReplacesASharedFolderOnASlashBoundary) {
  journal_.SetDBShare("78", "R/team/shared");
  const ConversionCase cases[] = {
      {"/from Ann/x.txt", 1, "77/x.txt"},
      {"/from Ann/sub/y", 1, "77/sub/y"},
      {"/from Anna/y", 1, "R/from Anna/y"},  // the character after the prefix is not "/"
      {"/from Ann", 1, "R/from Ann"},        // the folder keeps its own path
      {"/team/shared/z", 1, "78/z"},
      {"docs/a.txt", 1, "R/docs/a.txt"},  // no leading "/"
      {"/", 1, "R/"},
  };
  for (const ConversionCase& c : cases) {
    std::string path = c.in;
    EXPECT_EQ(journal_.MakeDBServerPath(path), c.result) << c.in;
    EXPECT_EQ(path, c.out) << c.in;
  }
}

TEST_F(ServerPathTest, MakeServerPathUsesTheServersShares) {
  journal_.AddServerShare("90", "R/from Ann");
  journal_.AddServerShare("90", "R/other");  // an existing id keeps its path
  journal_.AddServerShare("", "R/x");
  journal_.AddServerShare("91", "");
  std::string path = "/from Ann/x.txt";
  EXPECT_EQ(journal_.MakeServerPath(path), 1);
  EXPECT_EQ(path, "90/x.txt");
  path = "/x/a";
  EXPECT_EQ(journal_.MakeServerPath(path), 1);
  EXPECT_EQ(path, "R/x/a");

  journal_.ClearServerShares();
  path = "/from Ann/x.txt";
  EXPECT_EQ(journal_.MakeServerPath(path), 1);
  EXPECT_EQ(path, "R/from Ann/x.txt");

  CFileJournal noRoot;
  path = "/a";
  EXPECT_EQ(noRoot.MakeServerPath(path), 0);
  EXPECT_EQ(path, "/a");
  EXPECT_EQ(noRoot.TrimDBServerPah(path), 0);
}

TEST_F(ServerPathTest, ShareMapsFindSetAndErase) {
  std::string found;
  EXPECT_EQ(journal_.FindDBShare("77", found), 1);
  EXPECT_EQ(found, "R/from Ann");
  journal_.SetDBShare("77", "R/from Ann Smith");  // replaces
  EXPECT_EQ(journal_.FindDBShare("77", found), 1);
  EXPECT_EQ(found, "R/from Ann Smith");
  journal_.EraseDBShare("77");
  EXPECT_EQ(journal_.FindDBShare("77", found), 0);
  EXPECT_EQ(journal_.FindDBShare("", found), 0);

  journal_.AddShareOwner("77", "ann");
  journal_.AddShareOwner("77", "bob");  // an existing id keeps its owner
  journal_.AddShareOwner("78", "");
  EXPECT_EQ(journal_.FindShareOwner("77", found), 1);
  EXPECT_EQ(found, "ann");
  EXPECT_EQ(journal_.FindShareOwner("78", found), 0);
  EXPECT_EQ(journal_.FindShareOwner("", found), 0);
}

TEST_F(ServerPathTest, ShareIdsMarkPathsInSharedFolders) {
  EXPECT_EQ(journal_.AddShareId(0), 0);
  EXPECT_EQ(journal_.AddShareId(1), 0);
  EXPECT_EQ(journal_.IsInSharedFolder("1/a"), 0);
  EXPECT_EQ(journal_.AddShareId(5), 1);
  EXPECT_EQ(journal_.AddShareId(12345678901), 1);
  EXPECT_EQ(journal_.IsInSharedFolder("5/a"), 1);
  EXPECT_EQ(journal_.IsInSharedFolder("12345678901/b/c"), 1);
  EXPECT_EQ(journal_.IsInSharedFolder("55/a"), 0);
  EXPECT_EQ(journal_.IsInSharedFolder("R/a"), 0);
  EXPECT_EQ(journal_.IsInSharedFolder("5"), 0);  // no "/": not a path inside
  journal_.ClearShareIds();
  EXPECT_EQ(journal_.IsInSharedFolder("5/a"), 0);
}

// LoadDBShareMap on a real journal table.
class ServerPathDbShareTest : public ServerPathTest {
 protected:
  void SetUp() override {
    ServerPathTest::SetUp();
    ASSERT_EQ(journal_.Init(dir_ / "client.db"), 1);
    ASSERT_EQ(journal_.OpenDB(), 1);
  }

  static CFileInfo Shared(const std::string& path, int32_t id) { return CFileInfo(path, id, 0); }

  TempDir dir_;
};

TEST_F(ServerPathDbShareTest, PicksTheUpdatedShareOfPendingRowsAndTheActiveOneOfRowsOnDisk) {
  ASSERT_EQ(journal_.AddActive(Shared("R/from Ann", 77)), 1);      // on disk
  ASSERT_EQ(journal_.AddUpdated(Shared("R/from Bob", 78)), 1);     // pending download
  ASSERT_EQ(journal_.AddActive(Shared("R/Old Name", 79)), 1);      // pending update:
  ASSERT_EQ(journal_.AddUpdated(Shared("R/old name", 80)), 1);     //   80 counts
  ASSERT_EQ(journal_.AddActive(Shared("R/Was Shared", 81)), 1);    // pending update to a
  ASSERT_EQ(journal_.AddUpdated(Shared("R/Was Shared", 1)), 1);    //   plain folder: none
  ASSERT_EQ(journal_.AddActive(CFileInfo("R/plain", 1, 0)), 1);    // plain folder: none
  ASSERT_EQ(journal_.AddActive(CFileInfo("R/file", 0, 10)), 1);    // file: none
  journal_.SetDBShare("99", "R/stale");                            // emptied first

  ASSERT_EQ(journal_.LoadDBShareMap(), 1);
  const std::pair<const char*, const char*> expected[] = {
      {"77", "R/from Ann"}, {"78", "R/from Bob"}, {"80", "R/old name"}};
  for (const auto& [id, path] : expected) {
    std::string found;
    EXPECT_EQ(journal_.FindDBShare(id, found), 1) << id;
    EXPECT_EQ(found, path) << id;
  }
  std::string found;
  for (const char* absent : {"79", "81", "1", "0", "99"}) EXPECT_EQ(journal_.FindDBShare(absent, found), 0) << absent;

  std::string path = "78/x";
  EXPECT_EQ(journal_.TrimDBServerPah(path), 1);
  EXPECT_EQ(path, "/from Bob/x");
}

TEST_F(ServerPathDbShareTest, SharePathsComeBackInTheLocalCodePage) {
  CodePageOverride codePage("GBK");
  ASSERT_EQ(journal_.AddActive(Shared("R/\xD6\xD0\xCE\xC4", 77)), 1);  // R/中文 in GBK
  ASSERT_EQ(journal_.LoadDBShareMap(), 1);
  std::string found;
  ASSERT_EQ(journal_.FindDBShare("77", found), 1);
  EXPECT_EQ(found, "R/\xD6\xD0\xCE\xC4");
}

TEST_F(ServerPathDbShareTest, NeedsTheOpenDatabase) {
  journal_.CloseDB();
  EXPECT_EQ(journal_.LoadDBShareMap(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::LoadDBShareMap", "DB is not open!")));
}

}  // namespace
