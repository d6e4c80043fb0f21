#include "store/FileJournal.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/Logger.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/unit/store/JournalTestSupport.h"

namespace {

CFileInfo File(const std::string& path, int64_t size, int64_t mtime, const std::string& chunkList = "") {
  CFileInfo info(path, 0, size);
  info.mtime = mtime;
  info.chunkList = chunkList;
  return info;
}

CFileInfo Folder(const std::string& path) {
  CFileInfo info(path, 1, 0);
  info.mtime = 1;
  return info;
}

std::string Quoted(const std::string& text) {
  std::string quoted;
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted;
}

class FileJournalTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(journal_.Init(DbPath()), 1);
    ASSERT_EQ(journal_.OpenDB(), 1);
  }

  std::string DbPath() const { return dir_ / "client.db"; }

  // The row of `key` as another program sees it:
  // "<on_disk> A[<path> <mtime> <size>] U[<path> <mtime> <size>]", NULL as "-".
  std::string Row(const std::string& key) {
    RawDb raw(DbPath());
    const auto rows = raw.Rows(
        "SELECT on_disk, active_server_path, actvie_mtime, active_size, updated_server_path, updated_mtime, "
        "updated_size FROM file_journal_table WHERE server_path='" +
        Quoted(key) + "'");
    if (rows.empty()) return "<no row>";
    const auto& r = rows[0];
    return r[0] + " A[" + r[1] + " " + r[2] + " " + r[3] + "] U[" + r[4] + " " + r[5] + " " + r[6] + "]";
  }

  // "key=active path" of every row in key order.
  std::vector<std::string> KeysAndActivePaths() {
    RawDb raw(DbPath());
    std::vector<std::string> out;
    for (const auto& row :
         raw.Rows("SELECT server_path, active_server_path FROM file_journal_table ORDER BY server_path")) {
      out.push_back(row[0] + "=" + row[1]);
    }
    return out;
  }

  std::vector<std::string> Keys() {
    RawDb raw(DbPath());
    std::vector<std::string> out;
    for (const auto& row : raw.Rows("SELECT server_path FROM file_journal_table ORDER BY server_path")) {
      out.push_back(row[0]);
    }
    return out;
  }

  TempDir dir_;
  LogCapture log_;
  CFileJournal journal_;
};

// ---------------------------------------------------------------------------
// Set-up

TEST_F(FileJournalTest, InitCreatesTheTableOnceAndRefusesASecondPath) {
  RawDb raw(DbPath());
  EXPECT_EQ(raw.Value("SELECT sql FROM sqlite_master WHERE name='file_journal_table'"),
            "CREATE TABLE file_journal_table (id INTEGER primary key, server_path TEXT not null unique,"
            "                    active_server_path TEXT, active_chunklist TEXT, actvie_mtime INTEGER, "
            "active_size INTEGER, active_dir INTEGER,                    updated_server_path TEXT, "
            "updated_chunklist TEXT, updated_mtime INTEGER, updated_size INTEGER, updated_dir INTEGER, "
            "on_disk INTEGER)");

  EXPECT_EQ(journal_.Init(dir_ / "other.db"), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::Init", "DB file exist!")));

  CFileJournal unset;
  EXPECT_EQ(unset.Init(""), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::Init", "Need set config DB file!")));

  // A second journal on the same file finds the table there: logged, no failure.
  CFileJournal second;
  EXPECT_EQ(second.Init(DbPath()), 1);
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kInfo, "CFileJournal::Init", "SQL info: table file_journal_table already exists")));
}

TEST_F(FileJournalTest, OpenAndCloseAreLoggedAndASecondOpenFails) {
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kDebug, "CFileJournal::OpenDB", "======")));
  EXPECT_EQ(journal_.OpenDB(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::OpenDB", "DB file opened before!")));
  journal_.CloseDB();
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kDebug, "CFileJournal::CloseDB", "------")));

  CFileJournal noPath;
  EXPECT_EQ(noPath.OpenDB(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::OpenDB", "DB file undefined!")));
}

// ---------------------------------------------------------------------------
// Row transitions: each case starts from a fresh table, prepares the row of
// R/A.txt, runs one operation and looks at the table.

void InSync(CFileJournal& j) { j.AddActive(File("R/A.txt", 10, 1500, "k1")); }
void InSyncWithoutMtime(CFileJournal& j) { j.AddActive(File("R/A.txt", 10, 0, "k1")); }
void PendingDownload(CFileJournal& j) { j.AddUpdated(File("R/A.txt", 20, 2500, "k2")); }
void PendingUpdate(CFileJournal& j) {
  InSync(j);
  PendingDownload(j);
}
void PendingRemoval(CFileJournal& j) {
  InSync(j);
  j.MarkRemove("r/a.txt");
}
void PendingWithoutMtime(CFileJournal& j) { j.AddUpdated(File("R/A.txt", 20, 0, "k2")); }
void Nothing(CFileJournal&) {}

struct Transition {
  const char* name;
  void (*setup)(CFileJournal&);
  int (*operation)(CFileJournal&);
  int result;
  const char* key;  // the row to look at afterwards
  const char* row;
  int rows;  // rows in the table afterwards
  int logLevel;
  const char* logFunction;  // null: no line to look for
  const char* logText;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const Transition& c, std::ostream* out) { *out << c.name; }

const Transition kTransitions[] = {
    {"AddUpdatedOfNewPathSetsOnlyUpdated", Nothing,
     [](CFileJournal& j) { return j.AddUpdated(File("R/A.txt", 20, 2500, "k2")); }, 1, "r/a.txt",
     "0 A[- - -] U[R/A.txt 2500 20]", 1, 0, nullptr, nullptr},
    {"AddActiveOfNewPathSetsOnlyActive", Nothing,
     [](CFileJournal& j) { return j.AddActive(File("R/A.txt", 10, 1500, "k1")); }, 1, "r/a.txt",
     "1 A[R/A.txt 1500 10] U[- - -]", 1, 0, nullptr, nullptr},
    {"AddUpdatedOverInSyncMakesPendingUpdate", InSync,
     [](CFileJournal& j) { return j.AddUpdated(File("R/A.txt", 20, 2500, "k2")); }, 1, "r/a.txt",
     "0 A[R/A.txt 1500 10] U[R/A.txt 2500 20]", 1, CLogger::kWarn, "CFileJournal::AddUpdated",
     "Duplicated adding (r/a.txt)"},
    {"AddActiveOverPendingUpdateReplacesAndClearsUpdated", PendingUpdate,
     [](CFileJournal& j) { return j.AddActive(File("R/a.TXT", 30, 3500, "k3")); }, 1, "r/a.txt",
     "1 A[R/a.TXT 3500 30] U[ 0 0]", 1, CLogger::kWarn, "CFileJournal::AddActive", "Duplicated adding (r/a.txt)"},
    {"OnDiskOfPendingDownload", PendingDownload, [](CFileJournal& j) { return j.OnDisk("R/A.TXT"); }, 1,
     "r/a.txt", "1 A[R/A.txt 2500 20] U[ 0 0]", 1, CLogger::kInfo, "CFileJournal::OnDisk",
     "Ondisk a file: R/A.TXT(0, 20, 2500 -> 0, 0, 0)"},
    {"OnDiskOfPendingUpdate", PendingUpdate, [](CFileJournal& j) { return j.OnDisk("r/a.txt"); }, 1, "r/a.txt",
     "1 A[R/A.txt 2500 20] U[ 0 0]", 1, CLogger::kInfo, "CFileJournal::OnDisk",
     "Ondisk a file: r/a.txt(0, 20, 2500 -> 0, 10, 1500)"},
    {"OnDiskOfInSyncFailsAndChangesNothing", InSync, [](CFileJournal& j) { return j.OnDisk("r/a.txt"); }, 0,
     "r/a.txt", "1 A[R/A.txt 1500 10] U[- - -]", 1, CLogger::kError, "CFileJournal::OnDisk",
     "Error item (key:r/a.txt)"},
    {"MarkRemoveOfInSyncNegatesMtime", InSync, [](CFileJournal& j) { return j.MarkRemove("R/A.txt"); }, 1,
     "r/a.txt", "0 A[R/A.txt 1500 10] U[R/A.txt -1500 10]", 1, 0, nullptr, nullptr},
    // A pass cut short may have brought the pending version in without
    // recording it: the row must stay a removal, never become "no row" (the
    // file would then read as a new local one and go back to the service).
    {"MarkRemoveOfPendingDownloadRemovesItsVersion", PendingDownload,
     [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); }, 1, "r/a.txt", "0 A[ 0 0] U[R/A.txt -2500 20]", 1, 0,
     nullptr, nullptr},
    {"MarkRemoveOfPendingUpdateKeepsBothVersions", PendingUpdate,
     [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); }, 1, "r/a.txt",
     "0 A[R/A.txt 1500 10] U[R/A.txt -2500 20]", 1, 0, nullptr, nullptr},
    {"MarkRemoveOfPendingRemovalKeepsIt", PendingRemoval, [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); },
     1, "r/a.txt", "0 A[R/A.txt 1500 10] U[R/A.txt -1500 10]", 1, 0, nullptr, nullptr},
    {"MarkRemoveOfPendingRowWithoutTimesDeletesIt", PendingWithoutMtime,
     [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); }, 1, "r/a.txt", "<no row>", 0, 0, nullptr, nullptr},
    {"MarkRemoveWithoutMtimeChangesNothing", InSyncWithoutMtime,
     [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); }, 1, "r/a.txt", "1 A[R/A.txt 0 10] U[- - -]", 1, 0,
     nullptr, nullptr},
    {"MarkRemoveOfMissingRowFails", Nothing, [](CFileJournal& j) { return j.MarkRemove("r/a.txt"); }, 0, "r/a.txt",
     "<no row>", 0, CLogger::kError, "CFileJournal::MarkRemove", "Fail to get item(key:r/a.txt)"},
    {"RemoveActiveOfPendingUpdateMakesPendingDownload", PendingUpdate,
     [](CFileJournal& j) { return j.RemoveActive("r/a.txt"); }, 1, "r/a.txt", "0 A[ 0 0] U[R/A.txt 2500 20]", 1, 0,
     nullptr, nullptr},
    {"RemoveActiveWithoutUpdatedFails", InSync, [](CFileJournal& j) { return j.RemoveActive("r/a.txt"); }, 0,
     "r/a.txt", "1 A[R/A.txt 1500 10] U[- - -]", 1, CLogger::kError, "CFileJournal::RemoveActive",
     "Fail to remov (r/a.txt) for NO updated"},
    {"ModifyOnDiskReplacesActive", InSync, [](CFileJournal& j) { return j.Modify(File("R/A.txt", 11, 1600)); }, 1,
     "r/a.txt", "1 A[R/A.txt 1600 11] U[ 0 0]", 1, 0, nullptr, nullptr},
    {"ModifyNotOnDiskReplacesUpdated", PendingUpdate,
     [](CFileJournal& j) { return j.Modify(File("R/A.txt", 21, 2600)); }, 1, "r/a.txt",
     "0 A[R/A.txt 1500 10] U[R/A.txt 2600 21]", 1, 0, nullptr, nullptr},
    {"ModifyOfMissingRowFails", Nothing, [](CFileJournal& j) { return j.Modify(File("R/A.txt", 21, 2600)); }, 0,
     "r/a.txt", "<no row>", 0, CLogger::kError, "CFileJournal::Modify", "Fail to get item(r/a.txt)"},
    {"RemoveDeletesTheRow", InSync, [](CFileJournal& j) { return j.Remove("R/A.txt"); }, 1, "r/a.txt", "<no row>",
     0, 0, nullptr, nullptr},
    {"RemoveOfMissingRowFails", Nothing, [](CFileJournal& j) { return j.Remove("r/a.txt"); }, 0, "r/a.txt",
     "<no row>", 0, CLogger::kError, "CFileJournal::Remove", "Fail to get item(key:r/a.txt)"},
    {"RenameOnDiskMovesTheActivePath", InSync, [](CFileJournal& j) { return j.Rename("R/A.txt", "R/B.TXT"); }, 1,
     "r/b.txt", "1 A[R/B.TXT 1500 10] U[- - -]", 1, 0, nullptr, nullptr},
    {"RenameNotOnDiskMovesTheUpdatedPath", PendingDownload,
     [](CFileJournal& j) { return j.Rename("r/a.txt", "R/B.TXT"); }, 1, "r/b.txt",
     "0 A[- - -] U[R/B.TXT 2500 20]", 1, 0, nullptr, nullptr},
};

class FileJournalTransitionTest : public FileJournalTest, public testing::WithParamInterface<Transition> {};

TEST_P(FileJournalTransitionTest, LeavesTheRowInItsNextState) {
  const Transition& t = GetParam();
  t.setup(journal_);
  EXPECT_EQ(t.operation(journal_), t.result);
  EXPECT_EQ(Row(t.key), t.row);
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), t.rows);
  if (t.logFunction) {
    EXPECT_TRUE(log_.Contains(LogLine(t.logLevel, t.logFunction, t.logText))) << log_.Text();
  }
}

INSTANTIATE_TEST_SUITE_P(FileJournalRows, FileJournalTransitionTest, testing::ValuesIn(kTransitions),
                         [](const testing::TestParamInfo<Transition>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Reading rows back

TEST_F(FileJournalTest, RowWithoutActiveVersionReadsBackWithEmptyActivePath) {
  ASSERT_EQ(journal_.AddUpdated(File("R/Docs/A.txt", 20, 2500, "k1,k2")), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);
  CFileItem item;
  ASSERT_EQ(journal_.FindItem("R/DOCS/a.TXT", item), 1);
  EXPECT_EQ(item.serverPath, "r/docs/a.txt");
  EXPECT_EQ(item.active.path, "");
  EXPECT_EQ(item.updated.path, "R/Docs/A.txt");
  EXPECT_EQ(item.updated.chunkList, "k1,k2");
  EXPECT_EQ(item.updated.size, 20);
  EXPECT_EQ(item.updated.mtime, 2500);
  EXPECT_EQ(item.onDisk, 0);
  EXPECT_EQ(journal_.FindItem("r/docs/b.txt", item), 0);
}

TEST_F(FileJournalTest, PathWithSingleQuotesIsStoredFoundAndRemoved) {
  const std::string path = "R/Bob's 'notes'/it's.txt";
  ASSERT_EQ(journal_.AddActive(File(path, 5, 100)), 1);
  EXPECT_EQ(Row("r/bob's 'notes'/it's.txt"), "1 A[R/Bob's 'notes'/it's.txt 100 5] U[- - -]");
  ASSERT_EQ(journal_.MarkRemove(path), 1);  // an UPDATE with the quoted key
  ASSERT_EQ(journal_.LoadMap(), 1);
  CFileItem item;
  ASSERT_EQ(journal_.FindItem(path, item), 1);
  EXPECT_EQ(item.updated.mtime, -100);
  EXPECT_EQ(journal_.Remove(path), 1);
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 0);
}

TEST_F(FileJournalTest, RowWithNeitherVersionIsRefused) {
  EXPECT_EQ(journal_.AddActive(CFileInfo()), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::_AddItem",
                                    "Fail to insert for both NULL actvie {} and update {}")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::AddActive", "Fail to add item(key:)")));
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 0);
}

TEST_F(FileJournalTest, LoadMapReadsBothVersionsAndLogsEveryKey) {
  ASSERT_EQ(journal_.AddActive(File("R/A", 1, 10, "k1")), 1);
  ASSERT_EQ(journal_.AddUpdated(File("R/A", 2, 20, "k2")), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);
  CFileItem item;
  ASSERT_EQ(journal_.FindItem("r/a", item), 1);
  EXPECT_EQ(item.active.chunkList, "k1");
  EXPECT_EQ(item.updated.chunkList, "k2");
  const std::string text = log_.Text();
  const size_t head = text.find(LogLine(CLogger::kDebug, "CFileJournal::LoadMap",
                                        "--------------------- DB filesystem ------------------------"));
  const size_t row = text.find(LogLine(CLogger::kDebug, "CFileJournal::LoadMap", "DB FS: r/a"));
  const size_t tail = text.find(LogLine(CLogger::kDebug, "CFileJournal::LoadMap", std::string(60, '-')));
  ASSERT_NE(head, std::string::npos);
  ASSERT_NE(row, std::string::npos);
  ASSERT_NE(tail, std::string::npos);
  EXPECT_LT(head, row);
  EXPECT_LT(row, tail);
}

TEST_F(FileJournalTest, ClosedDatabaseFailsEveryStatementWithItsLine) {
  journal_.CloseDB();
  EXPECT_EQ(journal_.AddActive(File("R/A", 1, 10)), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::_GetItem", "DB is not open!")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::_AddItem", "DB is not open!")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::AddActive", "Fail to add item(key:r/a)")));
  EXPECT_EQ(journal_.RemoveAll("r/a"), 1);  // always succeeds
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kError, "CFileJournal::_DelAllItem", "{CFileJournal::GetValuebyKey} DB is not open!")));
  EXPECT_EQ(journal_.LoadMap(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::LoadMap", "DB is not open!")));
  EXPECT_EQ(journal_.RenameFolder("R/a", "R/b"), 0);
  EXPECT_EQ(journal_.BeginBatch(), 0);
}

TEST_F(FileJournalTest, CleanDBNeedsAClosedJournalAndEmptiesTableAndMap) {
  ASSERT_EQ(journal_.AddActive(File("R/A", 1, 10)), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);
  EXPECT_EQ(journal_.CleanDB(), 0);  // the engine holds it open
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::CleanDB", "DB is not open!")));

  journal_.CloseDB();
  ASSERT_EQ(journal_.CleanDB(), 1);
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 0);
  CFileItem item;
  EXPECT_EQ(journal_.FindItem("r/a", item), 0);
  EXPECT_EQ(journal_.FirstItem(item), 0);
  EXPECT_EQ(journal_.LastItem(item), 0);
  EXPECT_EQ(journal_.OpenDB(), 1);  // CleanDB closed it again
}

// ---------------------------------------------------------------------------
// Whole-prefix operations

struct PrefixRemoval {
  const char* name;
  const char* prefix;
  std::vector<std::string> before;
  std::vector<std::string> after;
};

void PrintTo(const PrefixRemoval& c, std::ostream* out) { *out << c.name; }

const PrefixRemoval kRemovals[] = {
    // A plain prefix: a sibling whose name extends the folder's goes too.
    {"PlainPrefix", "A/B", {"a/b", "a/b/c", "a/bc", "a/c", "b/a/b"}, {"a/c", "b/a/b"}},
    {"UnderscoreIsNoWildcard", "R/My_Docs", {"r/my_docs", "r/my_docs/x", "r/myxdocs/y"}, {"r/myxdocs/y"}},
    {"PercentIsNoWildcard", "r/100%", {"r/100%/a", "r/100x/b", "r/1000/c"}, {"r/1000/c", "r/100x/b"}},
    {"BackslashIsNoEscape", "r/a\\_", {"r/a\\_/x", "r/a\\b/y", "r/a_/z"}, {"r/a\\b/y", "r/a_/z"}},
    {"QuoteInPrefix", "r/bob's", {"r/bob's/a", "r/bobs/b"}, {"r/bobs/b"}},
};

class FileJournalRemoveAllTest : public FileJournalTest, public testing::WithParamInterface<PrefixRemoval> {};

TEST_P(FileJournalRemoveAllTest, RemovesExactlyTheRowsBeginningWithThePrefix) {
  const PrefixRemoval& c = GetParam();
  for (const std::string& path : c.before) ASSERT_EQ(journal_.AddActive(File(path, 1, 1)), 1);
  EXPECT_EQ(journal_.RemoveAll(c.prefix), 1);
  EXPECT_EQ(Keys(), c.after);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kInfo, "CFileJournal::RemoveAll",
                                    "Remove all item like key: " + CFileJournal::ToKey(c.prefix) + " from DB")));
}

INSTANTIATE_TEST_SUITE_P(FileJournalPrefixes, FileJournalRemoveAllTest, testing::ValuesIn(kRemovals),
                         [](const testing::TestParamInfo<PrefixRemoval>& info) { return info.param.name; });

struct FolderRename {
  const char* name;
  const char* from;
  const char* to;
  std::vector<std::string> before;  // active paths
  std::vector<std::string> after;   // "key=active path"
};

void PrintTo(const FolderRename& c, std::ostream* out) { *out << c.name; }

const FolderRename kFolderRenames[] = {
    {"MovesEntriesBelowAndTheFolder",
     "a/b",
     "a/c",
     {"a", "a/b", "a/b/x", "a/b/y/z", "a/bc"},
     {"a=a", "a/bc=a/bc", "a/c=a/c", "a/c/x=a/c/x", "a/c/y/z=a/c/y/z"}},
    {"KeysStayLowerCaseActivePathsTakeTheNewCase",
     "R/Docs",
     "R/Work Notes",
     {"R/Docs", "R/Docs/Plan.TXT", "R/DocsOld/x"},
     {"r/docsold/x=R/DocsOld/x", "r/work notes=R/Work Notes", "r/work notes/plan.txt=R/Work Notes/Plan.TXT"}},
    {"QuotesInBothNames",
     "R/Bob's",
     "R/Ann's 'Box'",
     {"R/Bob's", "R/Bob's/it's.txt", "R/Bobs/x"},
     {"r/ann's 'box'=R/Ann's 'Box'", "r/ann's 'box'/it's.txt=R/Ann's 'Box'/it's.txt", "r/bobs/x=R/Bobs/x"}},
    {"UnderscoreIsNoWildcard",
     "R/my_docs",
     "R/ours",
     {"R/my_docs", "R/my_docs/f", "R/myxdocs/g"},
     {"r/myxdocs/g=R/myxdocs/g", "r/ours=R/ours", "r/ours/f=R/ours/f"}},
};

class FileJournalRenameFolderTest : public FileJournalTest, public testing::WithParamInterface<FolderRename> {};

TEST_P(FileJournalRenameFolderTest, MovesTheFolderAndEverythingBelowIt) {
  const FolderRename& c = GetParam();
  for (const std::string& path : c.before) ASSERT_EQ(journal_.AddActive(File(path, 1, 1)), 1);
  ASSERT_EQ(journal_.RenameFolder(c.from, c.to), 1);
  EXPECT_EQ(KeysAndActivePaths(), c.after);

  // Every moved row is found again under the new name in any letter case.
  ASSERT_EQ(journal_.LoadMap(), 1);
  for (const std::string& entry : c.after) {
    const std::string key = entry.substr(0, entry.find('='));
    CFileItem item;
    EXPECT_EQ(journal_.FindItem(key, item), 1) << key;
    EXPECT_EQ(item.serverPath, key);
  }
}

INSTANTIATE_TEST_SUITE_P(FileJournalFolders, FileJournalRenameFolderTest, testing::ValuesIn(kFolderRenames),
                         [](const testing::TestParamInfo<FolderRename>& info) { return info.param.name; });

TEST_F(FileJournalTest, RenameFolderLeavesUpdatedPathsAndMissingActivePathsAlone) {
  ASSERT_EQ(journal_.AddActive(Folder("R/A")), 1);
  ASSERT_EQ(journal_.AddUpdated(File("R/A/new.txt", 3, 30)), 1);  // pending download below
  ASSERT_EQ(journal_.RenameFolder("R/A", "R/B"), 1);
  EXPECT_EQ(Row("r/b/new.txt"), "0 A[- - -] U[R/A/new.txt 30 3]");
  EXPECT_EQ(Row("r/b"), "1 A[R/B 1 0] U[- - -]");
}

TEST_F(FileJournalTest, FailedRenameFolderMovesNothing) {
  for (const char* path : {"R/A", "R/A/x", "R/B"}) ASSERT_EQ(journal_.AddActive(File(path, 1, 1)), 1);
  // The folder's own row cannot take the key of the existing R/B.
  EXPECT_EQ(journal_.RenameFolder("R/A", "R/B"), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::RenameFolder",
                                    "SQL error: UNIQUE constraint failed: file_journal_table.server_path")));
  EXPECT_EQ(KeysAndActivePaths(), (std::vector<std::string>{"r/a=R/A", "r/a/x=R/A/x", "r/b=R/B"}));
}

// ---------------------------------------------------------------------------
// Walks and searches of the map

TEST_F(FileJournalTest, WalksVisitKeysInBothOrders) {
  CFileItem item;
  // Before any map was loaded, the cursors are at the end.
  EXPECT_EQ(journal_.NextItem(item), 0);
  EXPECT_EQ(journal_.PrevItem(item), 0);

  for (const char* path : {"a/b", "a", "a/b/c"}) ASSERT_EQ(journal_.AddActive(Folder(path)), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);

  std::vector<std::string> backward;
  for (int more = journal_.LastItem(item); more; more = journal_.PrevItem(item)) backward.push_back(item.serverPath);
  EXPECT_EQ(backward, (std::vector<std::string>{"a/b/c", "a/b", "a"}));
  EXPECT_EQ(journal_.PrevItem(item), 0);  // stays at the end

  std::vector<std::string> forward;
  for (int more = journal_.FirstItem(item); more; more = journal_.NextItem(item)) forward.push_back(item.serverPath);
  EXPECT_EQ(forward, (std::vector<std::string>{"a", "a/b", "a/b/c"}));
  EXPECT_EQ(journal_.NextItem(item), 0);

  // A refill restarts the cursors on the new map.
  ASSERT_EQ(journal_.LastItem(item), 1);
  ASSERT_EQ(journal_.AddActive(Folder("b")), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);
  EXPECT_EQ(journal_.PrevItem(item), 0);
  EXPECT_EQ(journal_.NextItem(item), 0);
  ASSERT_EQ(journal_.LastItem(item), 1);
  EXPECT_EQ(item.serverPath, "b");
}

TEST_F(FileJournalTest, FindSameFileTakesTheFirstInSyncFileWithSameSizeAndChunks) {
  ASSERT_EQ(journal_.AddUpdated(File("R/a-pending", 10, 5, "k1,k2")), 1);  // not on disk
  ASSERT_EQ(journal_.AddActive(File("R/b-other-size", 11, 5, "k1,k2")), 1);
  ASSERT_EQ(journal_.AddActive(File("R/c-other-chunks", 10, 5, "k1,k3")), 1);
  ASSERT_EQ(journal_.AddActive(File("R/d-match", 10, 5, "k1,k2")), 1);
  ASSERT_EQ(journal_.AddActive(File("R/e-match-later", 10, 5, "k1,k2")), 1);
  ASSERT_EQ(journal_.AddActive(File("R/0-empty", 0, 5, "")), 1);
  ASSERT_EQ(journal_.LoadMap(), 1);

  CFileItem item;
  ASSERT_EQ(journal_.FindSameFile(File("/elsewhere", 10, 9, "k1,k2"), item), 1);
  EXPECT_EQ(item.serverPath, "r/d-match");
  EXPECT_EQ(journal_.FindSameFile(File("/elsewhere", 10, 9, "k9"), item), 0);
  EXPECT_EQ(journal_.FindSameFile(File("/empty", 0, 9, ""), item), 0);  // empty files never match
}

// ---------------------------------------------------------------------------
// Keys and text encodings

struct KeyCase {
  const char* codePage;  // "" for the locale's (UTF-8 in the tests)
  std::string path;
  std::string key;
};

TEST(FileJournalKeyTest, LowersAsciiLettersOnly) {
  const KeyCase cases[] = {
      {"", "R/Docs/A_B.TXT", "r/docs/a_b.txt"},
      {"", "R/\xC3\x84rger/\xE4\xB8\x84Z", "r/\xC3\x84rger/\xE4\xB8\x84z"},  // UTF-8 bytes are all >= 0x80
      {"GBK", "R/\xD6\xD0\xCE\xC4/A", "r/\xD6\xD0\xCE\xC4/a"},
      // GBK 0x81 0x41 is one character whose trail byte is 'A': it stays.
      {"GBK", "R/\x81\x41\x42", "r/\x81\x41\x62"},
  };
  for (const KeyCase& c : cases) {
    CodePageOverride codePage(c.codePage);
    EXPECT_EQ(CFileJournal::ToKey(c.path), c.key) << c.path;
  }
}

TEST_F(FileJournalTest, ChinesePathIsUtf8InTheTable) {
  const std::string utf8 = "R/\xE4\xB8\xAD\xE6\x96\x87/A.txt";  // R/中文/A.txt
  ASSERT_EQ(journal_.AddActive(File(utf8, 1, 1)), 1);
  EXPECT_EQ(KeysAndActivePaths(), std::vector<std::string>{"r/\xE4\xB8\xAD\xE6\x96\x87/a.txt=" + utf8});
}

TEST_F(FileJournalTest, GbkPathInMemoryIsUtf8InTheTable) {
  CodePageOverride codePage("GBK");
  const std::string gbk = "R/\xD6\xD0\xCE\xC4/\x81\x41.txt";                 // R/中文/丄.txt
  const std::string utf8 = "R/\xE4\xB8\xAD\xE6\x96\x87/\xE4\xB8\x84.txt";  // the same in UTF-8
  ASSERT_EQ(journal_.AddActive(File(gbk, 1, 1)), 1);
  EXPECT_EQ(KeysAndActivePaths(), std::vector<std::string>{"r/\xE4\xB8\xAD\xE6\x96\x87/\xE4\xB8\x84.txt=" + utf8});

  ASSERT_EQ(journal_.LoadMap(), 1);
  CFileItem item;
  ASSERT_EQ(journal_.FindItem(gbk, item), 1);
  EXPECT_EQ(item.active.path, gbk);
  EXPECT_EQ(journal_.RenameFolder("R/\xD6\xD0\xCE\xC4", "R/X"), 1);
  EXPECT_EQ(KeysAndActivePaths(), std::vector<std::string>{"r/x/\xE4\xB8\x84.txt=R/X/\xE4\xB8\x84.txt"});
}

// ---------------------------------------------------------------------------
// Batches

TEST_F(FileJournalTest, BatchIsSeenByOthersOnlyAfterCommit) {
  ASSERT_EQ(journal_.BeginBatch(), 1);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(journal_.AddUpdated(File("R/f" + std::to_string(i), i, i)), 1);
  ASSERT_EQ(journal_.OnDisk("r/f7"), 1);  // reads its own uncommitted rows
  // A folder rename inside the batch, and a failed one that must undo only itself.
  ASSERT_EQ(journal_.AddActive(Folder("R/dir")), 1);
  ASSERT_EQ(journal_.AddActive(File("R/dir/x", 1, 1)), 1);
  ASSERT_EQ(journal_.RenameFolder("R/dir", "R/moved"), 1);
  EXPECT_EQ(journal_.RenameFolder("R/moved", "R/f1"), 0);
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 0);
  ASSERT_EQ(journal_.CommitBatch(), 1);
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 302);
  EXPECT_EQ(Row("r/f7"), "1 A[R/f7 7 7] U[ 0 0]");
  EXPECT_EQ(Row("r/moved/x"), "1 A[R/moved/x 1 1] U[- - -]");
}

TEST_F(FileJournalTest, AbandonedBatchLeavesNothing) {
  {
    auto journal = std::make_unique<CFileJournal>();
    ASSERT_EQ(journal->Init(DbPath()), 1);
    ASSERT_EQ(journal->OpenDB(), 1);
    ASSERT_EQ(journal->BeginBatch(), 1);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(journal->AddActive(File("R/f" + std::to_string(i), 1, 1)), 1);
  }  // destroyed mid-batch
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 0);
  ASSERT_EQ(journal_.AddActive(File("R/after", 1, 1)), 1);  // the file is not left locked
  EXPECT_EQ(RawDb(DbPath()).Count("file_journal_table"), 1);
}

TEST_F(FileJournalTest, CommitWithoutBatchFails) {
  EXPECT_EQ(journal_.CommitBatch(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CFileJournal::CommitBatch",
                                    "SQL error: cannot commit - no transaction is active")));
}

}  // namespace
