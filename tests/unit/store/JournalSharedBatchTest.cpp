// The chunk journal joining the file journal's batch: within the batch it
// writes on the file journal's connection instead of waiting out the batch's
// write lock, and its rows share the batch's fate.
#include <gtest/gtest.h>

#include <string>

#include "store/ChunkJournal.h"
#include "store/FileJournal.h"
#include "tests/support/TempDir.h"
#include "tests/unit/store/JournalTestSupport.h"

namespace {

const std::string kKey = "0123456789abcdef0123456789abcdef";

CFileInfo OneChunkFile(const std::string& path) {
  CFileInfo file(path, 0, 10);
  file.AddChunk(kKey, 10, "1,", "AA,", 1);
  file.chunks[0].storageId = "S1";
  file.BuildChunkList();
  return file;
}

class JournalSharedBatchTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(files_.Init(db_), 1);
    ASSERT_EQ(chunks_.Init(db_), 1);
    ASSERT_EQ(files_.OpenDB(), 1);
    ASSERT_EQ(files_.BeginBatch(), 1);
    ASSERT_EQ(files_.AddUpdated(OneChunkFile("R/a.txt")), 1);  // the batch holds the write lock now
    ASSERT_EQ(chunks_.UseConnection(files_.Connection()), 1);
  }

  TempDir dir_;
  const std::string db_ = dir_ / "client.db";
  CFileJournal files_;
  CChunkJournal chunks_;
};

TEST_F(JournalSharedBatchTest, ChunkRowsCommitWithTheBatch) {
  ASSERT_EQ(chunks_.AddFileChunk(OneChunkFile("R/a.txt")), 1);
  CFileInfo read = OneChunkFile("R/a.txt");
  read.chunks.clear();
  ASSERT_EQ(chunks_.GetFileChunk(read), 1);
  ASSERT_EQ(read.chunks.size(), 1u);
  EXPECT_EQ(read.chunks[0].storageId, "S1");
  EXPECT_EQ(RawDb(db_).Count("chunk_journal_table"), 0);  // not visible outside before the commit

  chunks_.ReleaseConnection();
  ASSERT_EQ(files_.AddUpdated(OneChunkFile("R/b.txt")), 1);  // the file journal's connection is still open
  ASSERT_EQ(files_.CommitBatch(), 1);
  files_.CloseDB();
  RawDb raw(db_);
  EXPECT_EQ(raw.Count("chunk_journal_table"), 1);
  EXPECT_EQ(raw.Count("file_journal_table"), 2);
  // Back on its own connections, the chunk journal works as before.
  EXPECT_EQ(chunks_.UpdateStorageKey(kKey, "S2"), 1);
  EXPECT_EQ(raw.Value("SELECT storage_id FROM chunk_journal_table"), "S2");
}

TEST_F(JournalSharedBatchTest, ChunkRowsGoWithAnAbandonedBatch) {
  ASSERT_EQ(chunks_.AddFileChunk(OneChunkFile("R/a.txt")), 1);
  chunks_.ReleaseConnection();
  files_.CloseDB();  // closing without a commit rolls the batch back
  RawDb raw(db_);
  EXPECT_EQ(raw.Count("chunk_journal_table"), 0);
  EXPECT_EQ(raw.Count("file_journal_table"), 0);
}

TEST_F(JournalSharedBatchTest, AJournalWithItsOwnConnectionOpenRefusesToBorrow) {
  chunks_.ReleaseConnection();
  ASSERT_EQ(files_.CommitBatch(), 1);
  CChunkJournal other;
  ASSERT_EQ(other.Init(db_), 1);
  ASSERT_EQ(other.BeginBatch(), 1);
  EXPECT_EQ(other.UseConnection(files_.Connection()), 0);
  EXPECT_EQ(other.UseConnection(nullptr), 0);
  EXPECT_EQ(other.CommitBatch(), 1);
  // A borrowing journal never begins a batch of its own on the borrowed connection.
  ASSERT_EQ(chunks_.UseConnection(files_.Connection()), 1);
  EXPECT_EQ(chunks_.BeginBatch(), 0);
  chunks_.ReleaseConnection();
  EXPECT_EQ(files_.AddUpdated(OneChunkFile("R/c.txt")), 1);
}

}  // namespace
