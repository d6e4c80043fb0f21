// A folder alice shares with bob: changes inside it go both ways, the member
// may rename it, and leaving it removes nothing of the owner's.
#include <atomic>
#include <filesystem>

#include "tests/e2e/scenarios/ScenarioFixture.h"

namespace {

namespace fs = std::filesystem;

class ShareTest : public ScenarioBase {
 protected:
  void SetUp() override {
    ScenarioBase::SetUp();
    ASSERT_EQ(service_->Admin({"adduser", "bob", "bob-pw"}), 0);
    alice_ = std::make_unique<ServerUser>(service_->AuthUrl(), "alice", "alice-pw", "reader-a");
    bob_ = std::make_unique<ServerUser>(service_->AuthUrl(), "bob", "bob-pw", "reader-b");
    ASSERT_TRUE(alice_->Ready() && bob_->Ready());
    owner_ = Client("alice", "alice-pw", "alice-root", "alice-pc");
    WriteFileAt(owner_->Local("/team/plan.txt"), "the plan");
    WriteFileAt(owner_->Local("/team/old.txt"), "soon gone");
    WriteFileAt(owner_->Local("/team/docs/drawings.bin"), TestBytes(6 * kMiB, 30));
    WriteFileAt(owner_->Local("/private.txt"), "alice only");
    ASSERT_EQ(owner_->Sync(), 2);
    ASSERT_EQ(service_->Admin({"share", "alice", "/team", "bob"}), 0);
    ASSERT_EQ(owner_->Sync(), 2);  // the folder becomes the shared one
    member_ = Client("bob", "bob-pw", "bob-root", "bob-pc");
    for (const auto& [key, entry] : bob_->List()) {
      if (entry.dir > 1) shareId_ = std::to_string(entry.dir);
    }
    ASSERT_FALSE(shareId_.empty());
  }
  void TearDown() override {
    owner_.reset();
    member_.reset();
    ScenarioBase::TearDown();
  }

  // Both see the share's content alike, each user folder is what the
  // service holds for its user.
  void ExpectShareAgreement(const std::string& memberFolder) {
    ExpectSame(*owner_, *alice_);
    ExpectSame(*member_, *bob_);
    const TreeState owned = LocalTree(owner_->Local("/team"));
    EXPECT_FALSE(owned.empty());
    EXPECT_EQ(LocalTree(member_->Local(memberFolder)), owned);
  }

  std::unique_ptr<ServerUser> alice_;
  std::unique_ptr<ServerUser> bob_;
  std::unique_ptr<TestEngine> owner_;
  std::unique_ptr<TestEngine> member_;
  std::string shareId_;
};

TEST_F(ShareTest, ChangesInsideASharedFolderGoBothWays) {
  ExpectShareAgreement("/team");
  EXPECT_FALSE(Exists(member_->Local("/private.txt")));

  WriteFileAt(member_->Local("/team/from-bob.txt"), "bob's addition");
  WriteFileAt(member_->Local("/team/plan.txt"), "the plan, as bob changed it");
  ASSERT_EQ(member_->Sync(), 2);
  ASSERT_EQ(owner_->Sync(), 2);
  EXPECT_EQ(ReadFile(owner_->Local("/team/plan.txt")), "the plan, as bob changed it");
  ExpectShareAgreement("/team");

  fs::remove(owner_->Local("/team/old.txt"));
  WriteFileAt(owner_->Local("/team/docs/new.txt"), "alice's addition");
  ASSERT_EQ(owner_->Sync(), 2);
  ASSERT_EQ(member_->Sync(), 2);
  EXPECT_FALSE(Exists(member_->Local("/team/old.txt")));
  ExpectShareAgreement("/team");
}

TEST_F(ShareTest, TheMemberRenamesTheSharedFolderDuringARun) {
  // The rename lands while a run is under way, so no rename request is
  // made for it: the run finds the folder by its share marker.
  std::atomic<bool> renamed{false};
  member_->sink().onSend = [&](const Notice& notice) {
    if (renamed || notice.id != WM_SET_TRAY_STATE || notice.state != 1) return;
    renamed = true;
    fs::rename(member_->Local("/team"), member_->Local("/our team"));
  };
  const std::size_t from = LogSize();
  ASSERT_EQ(member_->Sync(), 2);
  member_->sink().onSend = nullptr;
  ASSERT_TRUE(renamed);
  EXPECT_EQ(RequestsSince(from, "rename"), 1u);
  EXPECT_EQ(RequestsSince(from, "upload_file"), 0u);  // the content was not sent again
  EXPECT_EQ(RequestsSince(from, "remove"), 0u);
  ExpectShareAgreement("/our team");

  // Later additions under the new name reach the owner.
  WriteFileAt(member_->Local("/our team/after.txt"), "after the rename");
  ASSERT_EQ(member_->Sync(), 2);
  ASSERT_EQ(owner_->Sync(), 2);
  EXPECT_EQ(ReadFile(owner_->Local("/team/after.txt")), "after the rename");
  ExpectShareAgreement("/our team");
}

TEST_F(ShareTest, AMemberRemovingTheSharedFolderLeavesTheShare) {
  WriteFileAt(member_->Local("/mine.txt"), "bob's own file");  // the removal is not everything bob has
  Settle(*member_);
  ASSERT_EQ(member_->Sync(), 2);
  const std::size_t from = LogSize();
  fs::remove_all(member_->Local("/team"));
  Settle(*member_);
  ASSERT_EQ(member_->Sync(), 2);
  // One removal, naming the share by its id.
  EXPECT_EQ(RequestsSince(from, "remove"), 1u);
  EXPECT_EQ(LoggedRequests(log_.Text().substr(from), {"name=\"remove\"", "file_name=\"" + shareId_ + "\""}), 1u);
  ASSERT_EQ(owner_->Sync(), 2);
  EXPECT_EQ(ReadFile(owner_->Local("/team/plan.txt")), "the plan");
  ExpectSame(*owner_, *alice_);
  ExpectSame(*member_, *bob_);
  EXPECT_FALSE(Exists(member_->Local("/team")));
}

}  // namespace
