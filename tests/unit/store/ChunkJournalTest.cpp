#include "store/ChunkJournal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/Logger.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "tests/unit/store/JournalTestSupport.h"

namespace {

// Chunk keys: 32 hex digits.
const std::string kKey1(32, 'a');
const std::string kKey2(32, 'b');
const std::string kKey3(32, 'c');

CChunkInfo Chunk(const std::string& key, int32_t size, const std::string& storageId = "",
                 const std::string& blockSum = "11,", const std::string& blockHash = "AB,") {
  CChunkInfo chunk;
  chunk.key = key;
  chunk.size = size;
  chunk.storageId = storageId;
  chunk.blockSum = blockSum;
  chunk.blockHash = blockHash;
  chunk.blockCount = 1;
  return chunk;
}

CFileInfo FileOf(const std::vector<CChunkInfo>& chunks) {
  CFileInfo file("/a.bin", 0, 0);
  for (const CChunkInfo& chunk : chunks) file.size += chunk.size;
  file.chunks = chunks;
  file.BuildChunkList();
  return file;
}

class ChunkJournalTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(journal_.Init(DbPath()), 1); }

  std::string DbPath() const { return dir_ / "client.db"; }

  // "<size> <storage_id> <block_sum> <block_hash>" of a chunk row, NULL as "-".
  std::string Row(const std::string& key) {
    RawDb raw(DbPath());
    const auto rows =
        raw.Rows("SELECT size, storage_id, block_sum, block_hash FROM chunk_journal_table WHERE key='" + key + "'");
    if (rows.empty()) return "<no row>";
    return rows[0][0] + " " + rows[0][1] + " " + rows[0][2] + " " + rows[0][3];
  }

  void Record(const CChunkInfo& chunk) { ASSERT_EQ(journal_.AddFileChunk(FileOf({chunk})), 1); }

  int Rows() { return RawDb(DbPath()).Count("chunk_journal_table"); }

  // The journal left the database closed when its own OpenDB succeeds.
  bool IsClosed() {
    if (!journal_.OpenDB()) return false;
    journal_.CloseDB();
    return true;
  }

  TempDir dir_;
  LogCapture log_;
  CChunkJournal journal_;
};

TEST_F(ChunkJournalTest, InitCreatesTheTableAndRefusesASecondPath) {
  EXPECT_EQ(RawDb(DbPath()).Value("SELECT sql FROM sqlite_master WHERE name='chunk_journal_table'"),
            "CREATE TABLE chunk_journal_table (id INTEGER primary key, key TEXT not null unique,                   "
            "size INTEGER, storage_id TEXT,                   block_sum TEXT, block_hash TEXT,                   "
            "needed_by TEXT, deleted INTEGER)");
  EXPECT_TRUE(IsClosed());

  EXPECT_EQ(journal_.Init(dir_ / "other.db"), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::Init", "DB file exist!")));
  CChunkJournal unset;
  EXPECT_EQ(unset.Init(""), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::Init", "Need set config DB file!")));

  CChunkJournal second;
  EXPECT_EQ(second.Init(DbPath()), 1);
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kInfo, "CChunkJournal::Init", "SQL info: table chunk_journal_table already exists")));

  CChunkJournal unreachable;
  EXPECT_EQ(unreachable.Init(dir_ / "no such folder/client.db"), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::Init", "Fail to open DB!")));
}

struct RecordedRow {
  const char* name;
  CChunkInfo recorded;  // the row already in the journal
  const char* after;    // the row after AddFileChunk of kNewChunk
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const RecordedRow& c, std::ostream* out) { *out << c.name; }

// The chunk as a new download or upload describes it.
const CChunkInfo kNewChunk = Chunk(kKey1, 4096, "", "22,", "CD,");

const RecordedRow kRecordedRows[] = {
    {"CompleteRowIsKept", Chunk(kKey1, 4096, "S1", "11,", "AB,"), "4096 S1 11, AB,"},
    {"RowWithoutStorageIdIsReplaced", Chunk(kKey1, 4096, "", "11,", "AB,"), "4096  22, CD,"},
    {"RowOfAnotherSizeIsReplaced", Chunk(kKey1, 100, "S1", "11,", "AB,"), "4096  22, CD,"},
    {"RowWithoutBlockSumsIsReplaced", Chunk(kKey1, 4096, "S1", "", "AB,"), "4096  22, CD,"},
    {"RowWithoutBlockHashesIsReplaced", Chunk(kKey1, 4096, "S1", "11,", ""), "4096  22, CD,"},
};

class ChunkJournalRecordTest : public ChunkJournalTest, public testing::WithParamInterface<RecordedRow> {};

TEST_P(ChunkJournalRecordTest, KeepsCompleteRowsAndReplacesTheOthers) {
  Record(GetParam().recorded);
  ASSERT_EQ(journal_.AddFileChunk(FileOf({kNewChunk})), 1);
  EXPECT_EQ(Row(kKey1), GetParam().after);
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(IsClosed());
}

INSTANTIATE_TEST_SUITE_P(ChunkJournalRows, ChunkJournalRecordTest, testing::ValuesIn(kRecordedRows),
                         [](const testing::TestParamInfo<RecordedRow>& info) { return info.param.name; });

// A chunk the service dropped and stored again has a new storage key; the
// one a listing gives now replaces the recorded one, the block lists stay.
TEST_F(ChunkJournalTest, TheServicesCurrentStorageKeyReplacesAnOlderOne) {
  Record(Chunk(kKey1, 4096, "S1", "11,", "AB,"));
  ASSERT_EQ(journal_.AddFileChunk(FileOf({Chunk(kKey1, 4096, "S2", "", "")})), 1);
  EXPECT_EQ(Row(kKey1), "4096 S2 11, AB,");
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(IsClosed());
}

TEST_F(ChunkJournalTest, FoldersAndEmptyFilesWriteNothing) {
  CFileInfo folder("/docs", 1, 0);
  EXPECT_EQ(journal_.AddFileChunk(folder), 1);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kWarn, "CChunkJournal::AddFileChunk", "Can't get chunk from /docs")));
  CFileInfo empty("/empty.txt", 0, 0);
  EXPECT_EQ(journal_.AddFileChunk(empty), 1);
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kWarn, "CChunkJournal::AddFileChunk", "Can't get any chunk from /empty.txt (0)")));
  EXPECT_EQ(Rows(), 0);

  EXPECT_EQ(journal_.GetFileChunk(folder), 1);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kWarn, "CChunkJournal::GetFileChunk", "Can't get chunk from /docs")));
}

TEST_F(ChunkJournalTest, OneFailingChunkDoesNotStopTheOthers) {
  // The database itself refuses the first key.
  ASSERT_EQ(RawDb(DbPath()).Exec("CREATE TRIGGER refuse BEFORE INSERT ON chunk_journal_table WHEN NEW.key='" + kKey1 +
                                 "' BEGIN SELECT RAISE(ABORT, 'refused'); END"),
            "");
  EXPECT_EQ(journal_.AddFileChunk(FileOf({Chunk(kKey1, 10), Chunk(kKey2, 20)})), 1);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::_Insert", "SQL error: refused")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::AddFileChunk",
                                    "Fail to insert chunk {" + kKey1 + "} of file {/a.bin} into DB")));
  EXPECT_EQ(Row(kKey1), "<no row>");
  EXPECT_EQ(Row(kKey2), "20  11, AB,");
}

TEST_F(ChunkJournalTest, GetFileChunkFillsKnownChunksAndLogsUnknownOnes) {
  Record(Chunk(kKey1, 4096, "S1", "1,", "A1,"));
  Record(Chunk(kKey3, 100, "S3", "3,", "A3,"));
  CFileInfo file("/f.bin", 0, 4196);
  file.chunkList = kKey1 + "," + kKey2 + "," + kKey3;
  file.chunkCount = 3;

  ASSERT_EQ(journal_.GetFileChunk(file), 1);
  ASSERT_EQ(file.chunks.size(), 3u);
  EXPECT_EQ(file.chunks[0].storageId, "S1");
  EXPECT_EQ(file.chunks[0].size, 4096);
  EXPECT_EQ(file.chunks[0].blockSum, "1,");
  EXPECT_EQ(file.chunks[0].blockHash, "A1,");
  EXPECT_EQ(file.chunks[1].key, kKey2);
  EXPECT_EQ(file.chunks[1].storageId, "");
  EXPECT_EQ(file.chunks[1].size, 0);
  EXPECT_EQ(file.chunks[2].storageId, "S3");
  EXPECT_EQ(file.chunks[2].size, 100);
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kError, "CChunkJournal::GetFileChunk", "Can't find chunk {" + kKey2 + "} from DB")));
  EXPECT_FALSE(log_.Contains("Can't find chunk {" + kKey1));
  EXPECT_TRUE(IsClosed());
}

TEST_F(ChunkJournalTest, MalformedChunkListFailsWithoutCrashing) {
  const std::string lists[] = {"not-a-key", kKey1 + ",zz'", kKey1 + ",," + kKey2, kKey1 + "0"};
  for (const std::string& list : lists) {
    CFileInfo file("/bad.bin", 0, 10);
    file.chunkList = list;
    EXPECT_EQ(journal_.GetFileChunk(file), 0) << list;
    EXPECT_TRUE(file.chunks.empty()) << list;
    EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::GetFileChunk",
                                      "Fail to parse chunk list {" + list + "} of file {/bad.bin}")))
        << list;
    EXPECT_TRUE(IsClosed()) << list;
  }
}

TEST_F(ChunkJournalTest, UpdateStorageKeyWritesKnownChunksOnly) {
  Record(Chunk(kKey1, 10));
  ASSERT_EQ(journal_.UpdateStorageKey(kKey1, "S-new"), 1);
  EXPECT_EQ(Row(kKey1), "10 S-new 11, AB,");

  EXPECT_EQ(journal_.UpdateStorageKey(kKey2, "S-other"), 0);
  EXPECT_TRUE(log_.Contains(
      LogLine(CLogger::kError, "CChunkJournal::UpdateStorageKey", "Fail to find chunk {" + kKey2 + "} from DB")));
  EXPECT_EQ(Rows(), 1);
  EXPECT_TRUE(IsClosed());
}

TEST_F(ChunkJournalTest, DeleteAndCleanDBRemoveRows) {
  Record(Chunk(kKey1, 10));
  Record(Chunk(kKey2, 20));
  ASSERT_EQ(journal_.Delete(kKey1), 1);
  EXPECT_EQ(Row(kKey1), "<no row>");
  EXPECT_EQ(Rows(), 1);
  ASSERT_EQ(journal_.CleanDB(), 1);
  EXPECT_EQ(Rows(), 0);
  EXPECT_TRUE(IsClosed());
}

TEST_F(ChunkJournalTest, OperationsOnAJournalLeftOpenFail) {
  ASSERT_EQ(journal_.OpenDB(), 1);
  EXPECT_EQ(journal_.AddFileChunk(FileOf({Chunk(kKey1, 10)})), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::OpenDB", "DB file opened before!")));
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::AddFileChunk", "Fail to open DB!")));
  EXPECT_EQ(journal_.Delete(kKey1), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::Delete", "Fail to open DB")));
  EXPECT_EQ(journal_.CleanDB(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::CleanDB", "DB is not open!")));
  journal_.CloseDB();
  EXPECT_EQ(Rows(), 0);

  CChunkJournal noPath;
  EXPECT_EQ(noPath.OpenDB(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::OpenDB", "DB file undefined!")));
}

// ---------------------------------------------------------------------------
// Batches

TEST_F(ChunkJournalTest, BatchKeepsTheDatabaseOpenUntilCommit) {
  ASSERT_EQ(journal_.BeginBatch(), 1);
  std::vector<CChunkInfo> chunks;
  for (int i = 0; i < 200; ++i) {
    char key[33];
    std::snprintf(key, sizeof key, "%032x", i);
    chunks.push_back(Chunk(key, i + 1));
  }
  ASSERT_EQ(journal_.AddFileChunk(FileOf(chunks)), 1);
  ASSERT_EQ(journal_.UpdateStorageKey(chunks[5].key, "S5"), 1);
  CFileInfo file = FileOf({chunks[5]});
  ASSERT_EQ(journal_.GetFileChunk(file), 1);  // sees its own rows
  EXPECT_EQ(file.chunks[0].storageId, "S5");
  EXPECT_EQ(Rows(), 0);  // nothing committed yet
  EXPECT_FALSE(IsClosed());

  ASSERT_EQ(journal_.CommitBatch(), 1);
  EXPECT_EQ(Rows(), 200);
  EXPECT_EQ(Row(chunks[5].key), "6 S5 11, AB,");
  EXPECT_TRUE(IsClosed());
  EXPECT_EQ(journal_.CommitBatch(), 0);
  EXPECT_TRUE(log_.Contains(LogLine(CLogger::kError, "CChunkJournal::CommitBatch", "DB is not open!")));
}

TEST_F(ChunkJournalTest, AbandonedBatchLeavesNothing) {
  {
    auto journal = std::make_unique<CChunkJournal>();
    ASSERT_EQ(journal->Init(DbPath()), 1);
    ASSERT_EQ(journal->BeginBatch(), 1);
    ASSERT_EQ(journal->AddFileChunk(FileOf({Chunk(kKey1, 10), Chunk(kKey2, 20)})), 1);
  }  // destroyed mid-batch
  EXPECT_EQ(Rows(), 0);
  Record(Chunk(kKey3, 30));  // the file is not left locked
  EXPECT_EQ(Rows(), 1);
}

}  // namespace
