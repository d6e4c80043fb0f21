// A user folder that is suddenly empty (a disk that is not mounted, a folder
// deleted by mistake) must not empty the user's storage without consent.
#include <filesystem>

#include "foundation/Format.h"

#include "tests/e2e/scenarios/ScenarioFixture.h"

namespace {

namespace fs = std::filesystem;

class GuardTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    WriteFileAt(a_->Local("/a.txt"), "a");
    WriteFileAt(a_->Local("/docs/b.txt"), "b");
    fs::create_directories(a_->Local("/empty"));
    SyncBoth();
    before_ = ServiceTree(*alice_, *service_);
    ASSERT_EQ(before_.size(), 4u);
  }

  // The question for removing `count` entries of `inSync`.
  static std::string Question(int count, int inSync) {
    return "question: " + StrFormat(Local("本地已删除 %d 个文件和文件夹（共 %d 个已同步），继续同步将同时删除服务器上的这些文件。确定删除吗？").c_str(),
                                    count, inSync);
  }

  // Questions the engine asked A's user so far.
  std::size_t QuestionsAsked() const {
    std::size_t asked = 0;
    for (const std::string& line : a_->sink().Lines()) asked += line.rfind("question: ", 0) == 0 ? 1 : 0;
    return asked;
  }

  TreeState before_;
};

TEST_F(GuardTest, AnUnmountedFolderRemovesNothingAndComesBackAsItWas) {
  const std::string away = a_->UserFolder() + ".away";
  fs::rename(a_->UserFolder(), away);  // the disk is gone; the client makes an empty folder
  a_->sink().answerOk = false;
  const std::size_t from = LogSize();
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 0);  // unfinished
  EXPECT_EQ(a_->sink().Count(Question(4, 4)), 1u);
  EXPECT_EQ(RequestsSince(from, "remove"), 0u);
  EXPECT_EQ(ServiceTree(*alice_, *service_), before_);

  // The runs that follow by themselves keep the removals back without
  // asking again; the other computer keeps everything.
  EXPECT_EQ(a_->Sync(), 0);
  EXPECT_EQ(a_->sink().Count(Question(4, 4)), 1u);
  EXPECT_EQ(b_->Sync(), 2);

  // The disk is back: nothing to ask, nothing to remove.
  fs::remove_all(a_->UserFolder());
  fs::rename(away, a_->UserFolder());
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(RequestsSince(from, "remove"), 0u);
  ExpectAgreement();
}

// The user empties the folder on purpose and agrees once: a folder goes as
// one removal with its content, and nothing of it is asked about again
// (the empty listing that follows leaves the journal as it is).
TEST_F(GuardTest, AnEmptiedFolderIsAskedAboutOnceAndRemovedOnce) {
  const std::size_t questions = QuestionsAsked();
  const std::size_t from = LogSize();
  for (const char* entry : {"/a.txt", "/docs", "/empty"}) fs::remove_all(a_->Local(entry));
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(QuestionsAsked(), questions + 1);
  EXPECT_EQ(a_->sink().Count(Question(4, 4)), 1u);
  EXPECT_EQ(RequestsSince(from, "remove"), 3u);
  EXPECT_TRUE(ServiceTree(*alice_, *service_).empty());
}

TEST_F(GuardTest, RemovingMoreThanAThousandEntriesNeedsConsent) {
  // "/few": the folder and 999 files, 1000 entries; "/many": 1001 entries.
  for (const auto& [folder, files] : {std::pair<std::string, int>{"/few", 999}, {"/many", 1000}}) {
    ASSERT_TRUE(alice_->PutFolder(folder));
    for (int i = 0; i < files; ++i) {
      ASSERT_TRUE(alice_->PutFile(folder + "/n" + std::to_string(i), "same bytes", ServerTime(1)));
    }
  }
  SyncBoth();
  ExpectAgreement();

  const std::size_t questions = QuestionsAsked();
  fs::remove_all(a_->Local("/few"));
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_EQ(QuestionsAsked(), questions);
  EXPECT_EQ(ServiceTree(*alice_, *service_).count("/few"), 0u);

  // Moved to the trash: gone from the folder at once.
  a_->sink().answerOk = false;
  fs::rename(a_->Local("/many"), Root("trash"));
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 0);
  const std::size_t asked = a_->sink().Count(Question(1001, 1005));
  EXPECT_GE(asked, 1u);
  EXPECT_EQ(ServiceTree(*alice_, *service_).count("/many/n999"), 1u);

  // The user's own "sync now" asks again, and this time the user agrees.
  a_->sink().answerOk = true;
  const std::size_t runs = a_->sink().RunsStarted();
  ASSERT_EQ(a_->work().Request(WM_WORK_SYNC, TestEngine::kWindow), 1);
  EXPECT_EQ(a_->sink().WaitForRunEnd(runs + 1), 2);
  EXPECT_EQ(a_->sink().Count(Question(1001, 1005)), asked + 1);
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
  EXPECT_FALSE(Exists(b_->Local("/many")));
}

}  // namespace
