// Everyday changes on one computer reach the other: files and folders
// created, changed, deleted and renamed, on either side.
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/FileTime.h"
#include "tests/e2e/scenarios/ScenarioFixture.h"

namespace {

namespace fs = std::filesystem;

TEST_F(ScenarioTest, CreatedChangedAndDeletedEntriesFollowInBothDirections) {
  const std::string chinese = Local("/文档/报告 2024.txt");
  WriteFileAt(a_->Local("/notes.txt"), "first notes");
  WriteFileAt(a_->Local(chinese), Local("中文内容"));
  WriteFileAt(a_->Local("/docs/sub/deep.bin"), TestBytes(9 * kMiB, 1));
  WriteFileAt(a_->Local("/docs/empty.txt"), "");
  fs::create_directories(a_->Local("/empty folder"));
  SyncBoth();
  ExpectAgreement();
  EXPECT_EQ(ReadFile(b_->Local(chinese)), Local("中文内容"));

  // Each side changes something; the other follows.
  WriteFileAt(a_->Local("/notes.txt"), "second notes, longer");
  WriteFileAt(b_->Local("/docs/sub/deep.bin"), TestBytes(9 * kMiB, 2));
  WriteFileAt(b_->Local("/docs/new/from-b.txt"), "made on b");
  SyncBoth();
  EXPECT_EQ(a_->Sync(), 2);  // brings B's changes
  ExpectAgreement();
  EXPECT_EQ(ReadFile(a_->Local("/docs/sub/deep.bin")), TestBytes(9 * kMiB, 2));

  // Deletions, a file on one side and a folder on the other.
  fs::remove(b_->Local("/notes.txt"));
  fs::remove_all(a_->Local("/docs/sub"));
  SyncBoth();
  EXPECT_EQ(a_->Sync(), 2);
  ExpectAgreement();
  EXPECT_FALSE(Exists(a_->Local("/notes.txt")));
  EXPECT_FALSE(Exists(b_->Local("/docs/sub")));
  EXPECT_TRUE(Exists(b_->Local("/docs/new/from-b.txt")));
}

// The service drops a chunk no file uses any more, and files the same bytes
// under a new storage key when they come back: a computer that knew the old
// key must fetch the returning content all the same.
TEST_F(ScenarioTest, ContentThatComesBackAfterTheServiceDroppedItArrives) {
  WriteFileAt(a_->Local("/draft.txt"), "the first draft");
  SyncBoth();
  WriteFileAt(a_->Local("/draft.txt"), "the second draft");
  SyncBoth();
  WriteFileAt(a_->Local("/restored.txt"), "the first draft");
  SyncBoth();
  ExpectAgreement();
  EXPECT_EQ(ReadFile(b_->Local("/restored.txt")), "the first draft");
}

// A run cut short after its listing found a removal but before it applied
// it (a crash or a logout during a long download) leaves the removal
// pending; the next run applies it and never sends the file back.
TEST_F(ScenarioTest, ARemovalFoundByARunCutShortIsStillAppliedByTheNext) {
  WriteFileAt(a_->Local("/m.dat"), "deleted on a");
  WriteFileAt(a_->Local("/large.bin"), TestBytes(12 * kMiB, 1));
  SyncBoth();
  fs::remove(a_->Local("/m.dat"));
  WriteFileAt(a_->Local("/large.bin"), TestBytes(12 * kMiB, 2));
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);

  constexpr uintptr_t kLogoutWindow = 7;
  bool asked = false;
  b_->sink().onSend = [&](const Notice& notice) {
    if (!asked && notice.id == WM_SHOW_STATUS && notice.text.rfind(Local("更新文件: "), 0) == 0) {
      asked = b_->work().Request(WM_WORK_LOGOUT, kLogoutWindow) == 1;
    }
  };
  EXPECT_EQ(b_->Sync(), 0);
  EXPECT_EQ(b_->sink().WaitForPost(kLogoutWindow, WM_WORK_LOGOUT_DONE), 0);
  b_->sink().onSend = nullptr;
  ASSERT_TRUE(asked);
  ASSERT_TRUE(Exists(b_->Local("/m.dat")));  // the removal was found, not applied

  ASSERT_EQ(b_->LogIn(), 1);
  EXPECT_EQ(b_->sink().WaitForRunEnd(b_->sink().RunsStarted()), 2);
  EXPECT_EQ(a_->Sync(), 2);
  ExpectAgreement();
  EXPECT_FALSE(Exists(a_->Local("/m.dat")));
  EXPECT_FALSE(Exists(b_->Local("/m.dat")));
}

// A file whose name merely begins like this program's temporary files is
// the user's: kept, and synchronised like any other.
TEST_F(ScenarioTest, AUsersFileNamedLikeATemporaryOneIsKeptAndSynchronised) {
  WriteFileAt(a_->Local("/.vessatmp-notes.txt"), "mine");
  WriteFileAt(a_->Local("/docs/.vessatmp-k3j4h5g6"), "mine too");
  SyncBoth();
  ExpectAgreement();
  EXPECT_EQ(ReadFile(a_->Local("/.vessatmp-notes.txt")), "mine");
  EXPECT_EQ(ReadFile(b_->Local("/.vessatmp-notes.txt")), "mine");
  EXPECT_EQ(ReadFile(b_->Local("/docs/.vessatmp-k3j4h5g6")), "mine too");
}

TEST_F(ScenarioTest, ADeletedFolderOfAHundredFilesIsOneRemoval) {
  for (int i = 0; i < 100; ++i) WriteFileAt(a_->Local("/batch/file-" + std::to_string(i) + ".txt"), "n" + std::to_string(i));
  WriteFileAt(a_->Local("/stays.txt"), "stays");
  SyncBoth();
  ExpectAgreement();

  const std::size_t from = LogSize();
  fs::remove_all(a_->Local("/batch"));
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(RequestsSince(from, "remove"), 1u);
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
  EXPECT_FALSE(Exists(b_->Local("/batch")));
}

TEST_F(ScenarioTest, RenamesWhileIdleAreOneRequestEach) {
  WriteFileAt(a_->Local("/old name.txt"), "renamed file");
  WriteFileAt(a_->Local("/folder/inner/a.txt"), "inside a renamed folder");
  WriteFileAt(a_->Local("/folder/b.bin"), TestBytes(5 * kMiB, 3));
  SyncBoth();
  ExpectAgreement();

  struct Move {
    std::string from;
    std::string to;
  };
  for (const Move& move : {Move{"/old name.txt", "/new name.txt"}, Move{"/folder", "/renamed folder"}}) {
    SCOPED_TRACE(move.to);
    Settle(*a_);  // the rename must find the engine idle
    const std::size_t from = LogSize();
    const std::size_t runs = a_->sink().RunsStarted();
    fs::rename(a_->Local(move.from), a_->Local(move.to));
    // The watcher hands the rename over while the engine is idle; its run follows.
    ASSERT_TRUE(WaitForLog("Rename " + move.from.substr(1) + " -> " + move.to.substr(1), from));
    EXPECT_EQ(a_->sink().WaitForRunEnd(runs + 1), 2);
    EXPECT_EQ(RequestsSince(from, "rename"), 1u);
    EXPECT_EQ(RequestsSince(from, "upload_file"), 0u);
    EXPECT_EQ(RequestsSince(from, "remove"), 0u);
  }
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
  EXPECT_FALSE(Exists(b_->Local("/folder")));
  EXPECT_EQ(ReadFile(b_->Local("/renamed folder/inner/a.txt")), "inside a renamed folder");
}

TEST_F(ScenarioTest, ATouchedButUnchangedFileIsNotUploaded) {
  WriteFileAt(a_->Local("/same.txt"), "same content");
  SyncBoth();
  const int64_t recorded = LocalTime(a_->Local("/same.txt"));
  const std::size_t from = LogSize();
  const timespec later[2] = {{0, UTIME_OMIT}, ToTimespec(static_cast<FileTime>(recorded + 3600LL * 10000000LL))};
  ASSERT_EQ(utimensat(AT_FDCWD, a_->Local("/same.txt").c_str(), later, 0), 0);
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(RequestsSince(from, "upload_file"), 0u);
  EXPECT_EQ(RequestsSince(from, "upload_chunk"), 0u);
  EXPECT_TRUE(log_.Contains("update local file mtime: /same.txt"));
  EXPECT_EQ(LocalTime(a_->Local("/same.txt")), recorded);
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
}

}  // namespace
