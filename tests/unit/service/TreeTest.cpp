// Renames, removals and shared folders, as two users' clients see them.
#include <gtest/gtest.h>

#include "tests/unit/service/ServiceFixture.h"

namespace {

class ServiceTreeTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    AddUser("ann", "s3cret");
    AddUser("bob", "hunter2");
    ann_ = Connect("ann", "s3cret");
    bob_ = Connect("bob", "hunter2");
    for (const char* folder : {"ann/docs", "ann/docs/sub", "ann/other"}) {
      ASSERT_EQ(Upload(*ann_, DescribeFolder(folder)), "all_chunk_exist");
    }
    ASSERT_EQ(Upload(*ann_, DescribeFile("ann/docs/a.txt", "alpha")), "all_chunk_exist");
    ASSERT_EQ(Upload(*ann_, DescribeFile("ann/docs/sub/b.txt", "beta")), "all_chunk_exist");
  }

  // "share N" -> "N"
  std::string ShareDocs(const std::string& with) {
    std::string out;
    EXPECT_EQ(Admin({"share", "ann", "/docs", with}, &out), 0) << out;
    return out.substr(6, out.size() - 7);
  }

  static std::vector<std::string> Keys(const CBack::FileMap& files) {
    std::vector<std::string> keys;
    for (const auto& [key, entry] : files) keys.push_back(key);
    return keys;
  }

  std::unique_ptr<ServiceClient> ann_;
  std::unique_ptr<ServiceClient> bob_;
};

using Names = std::vector<std::string>;

TEST_F(ServiceTreeTest, RenameMovesAFolderWithItsContents) {
  std::string result;
  ASSERT_EQ(ann_->back.Rename("ann/docs", "ann/other/papers", result), 1) << ann_->back.GetReason();
  EXPECT_EQ(Keys(List(*ann_, "ann")), (Names{"ann/other", "ann/other/papers", "ann/other/papers/a.txt",
                                             "ann/other/papers/sub", "ann/other/papers/sub/b.txt"}));
  EXPECT_EQ(Describe(*ann_, "ann/other/papers/sub/b.txt").size, 4);

  struct Case {
    const char* from;
    const char* to;
    const char* reason;
  };
  for (const Case& c : {Case{"ann/nothing", "ann/x", "7"}, Case{"ann/other/papers/a.txt", "ann/other", "26"},
                        Case{"ann/other/papers/a.txt", "ann/none/a.txt", "20"},
                        Case{"ann/other", "ann/other/papers/sub/inner", "9"},
                        Case{"ann/other/../etc", "ann/x", "9"}}) {
    EXPECT_EQ(ann_->back.Rename(c.from, c.to, result), 0) << c.from;
    EXPECT_EQ(ann_->back.GetLastReason(), c.reason) << c.from << " -> " << c.to;
  }
}

TEST_F(ServiceTreeTest, RemovingAFolderRemovesItsContentsAndTheirChunks) {
  const CFileInfo b = Describe(*ann_, "ann/docs/sub/b.txt");
  ASSERT_FALSE(StoredChunk(b.chunks[0].storageId).empty());
  std::string result;
  ASSERT_EQ(ann_->back.Remove("ann/docs", result), 1);
  EXPECT_EQ(Keys(List(*ann_, "ann")), (Names{"ann/other"}));
  EXPECT_TRUE(StoredChunk(b.chunks[0].storageId).empty()) << "nothing names the chunk any more";
  EXPECT_EQ(ann_->back.Remove("ann/docs", result), 1) << "removing what is gone is no error";
  EXPECT_EQ(ann_->back.Remove("ann", result), 0) << "the root stays";
  EXPECT_EQ(ann_->back.GetLastReason(), "11");
}

TEST_F(ServiceTreeTest, SharedFolderSeenFromTheMember) {
  const std::string id = ShareDocs("bob");
  const CBack::FileMap seen = List(*bob_, "bob");
  EXPECT_EQ(Keys(seen), (Names{id + "/a.txt", id + "/sub", id + "/sub/b.txt", "bob/docs"}));
  EXPECT_EQ(seen.at("bob/docs").dir, std::stoi(id));
  EXPECT_EQ(seen.at("bob/docs").owner, "ann");

  std::vector<CFileInfo> whole;
  std::string result;
  ASSERT_EQ(bob_->back.DownloadAll(result, whole), 1);
  ASSERT_EQ(whole.size(), 5u);
  EXPECT_EQ(whole[0].path, "bob");
  EXPECT_EQ(whole[1].path, "bob/docs") << "a shared folder comes before its contents";
  EXPECT_EQ(whole[1].dir, std::stoi(id));

  // The member reads and writes inside the share; the owner sees it under the id too.
  const CFileInfo a = Describe(*bob_, id + "/a.txt");
  CChunkBuffer buffer(0);
  ASSERT_EQ(bob_->transmitter.DownloadChunk(a.chunks[0], result, buffer), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length()), "alpha");
  EXPECT_EQ(Upload(*bob_, DescribeFile(id + "/from-bob.txt", "hi ann")), "all_chunk_exist");
  const CBack::FileMap owner = List(*ann_, "ann");
  EXPECT_EQ(owner.at("ann/docs").dir, std::stoi(id)) << "the owner sees the folder as shared";
  EXPECT_EQ(owner.at("ann/docs").owner, "ann");
  EXPECT_EQ(owner.count(id + "/from-bob.txt"), 1u);
  EXPECT_EQ(Describe(*ann_, "ann/docs/from-bob.txt").size, 6) << "its own path still leads there";
}

TEST_F(ServiceTreeTest, ChunksAndSharesStayWithTheirUsers) {
  AddUser("carol", "pw");
  const auto carol = Connect("carol", "pw");
  const std::string id = ShareDocs("bob");
  const CFileInfo a = Describe(*ann_, "ann/docs/a.txt");
  CChunkBuffer buffer(0);
  std::string result;
  EXPECT_EQ(carol->transmitter.DownloadChunk(a.chunks[0], result, buffer), 0);
  EXPECT_EQ(carol->transmitter.GetReason(), "19");
  CBack::FileMap files;
  EXPECT_EQ(carol->back.GetList(id, result, files), 0) << "a share carol is not in";
  EXPECT_EQ(carol->back.GetLastReason(), "7");
  EXPECT_EQ(carol->back.GetList("ann", result, files), 0) << "another user's root";
  EXPECT_EQ(carol->back.GetLastReason(), "7");
}

TEST_F(ServiceTreeTest, LeavingAndEndingAShare) {
  const std::string id = ShareDocs("bob");
  std::string result;
  ASSERT_EQ(bob_->back.Rename("bob/docs", "bob/from ann", result), 1) << bob_->back.GetReason();
  EXPECT_EQ(List(*bob_, "bob").at("bob/from ann").dir, std::stoi(id)) << "a member may name the mount";
  EXPECT_EQ(Keys(List(*ann_, "ann/docs")).size(), 3u) << "the owner's tree is untouched";

  ASSERT_EQ(bob_->back.Remove(id, result), 1);
  EXPECT_TRUE(List(*bob_, "bob").empty()) << "bob left the share";
  EXPECT_EQ(Keys(List(*ann_, "ann/docs")).size(), 3u) << "the folder stays with its owner";

  const std::string again = ShareDocs("bob");
  EXPECT_EQ(again, id) << "a folder keeps its share id";
  ASSERT_EQ(ann_->back.Remove(id, result), 1);
  EXPECT_EQ(Keys(List(*ann_, "ann")), (Names{"ann/other"})) << "the owner removed the shared folder";
  EXPECT_TRUE(List(*bob_, "bob").empty());
}

TEST_F(ServiceTreeTest, ShareCommandRefusals) {
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  for (const Case& c : {Case{{"share", "ann", "/docs/a.txt", "bob"}, 1}, Case{{"share", "ann", "/nowhere", "bob"}, 1},
                        Case{{"share", "ann", "/docs", "nobody"}, 1}, Case{{"share", "ann", "/docs", "ann"}, 1},
                        Case{{"share", "ann", "/", "bob"}, 1}, Case{{"share", "ann", "/docs"}, 2}}) {
    std::string out;
    EXPECT_EQ(Admin(c.args, &out), c.code) << out;
  }
  ShareDocs("bob");
  std::string out;
  EXPECT_EQ(Admin({"share", "ann", "/docs/sub", "bob"}, &out), 1) << "shares never nest";
  EXPECT_NE(out.find("inside or holds another shared folder"), std::string::npos) << out;
}

}  // namespace
