// Local content reaching the service: what an upload announces, which chunks
// travel, and how a changed chunk travels (a delta, or the whole chunk when
// the delta cannot be used).
#include <filesystem>
#include <fstream>

#include <chrono>
#include <thread>

#include "tests/e2e/engine/EngineFixture.h"
#include "store/FileJournal.h"
#include "tests/e2e/engine/TreeState.h"
#include "tests/support/MutatingProxy.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

class UploadTest : public EngineE2ETest {
 protected:
  void SetUp() override {
    EngineE2ETest::SetUp();
    alice_ = std::make_unique<ServerUser>(service_->AuthUrl(), "alice", "alice-pw");
    ASSERT_TRUE(alice_->Ready());
  }

  std::size_t Requests(std::size_t from, const std::vector<std::string>& fragments) const {
    const std::string text = log_.Text();
    return LoggedRequests(from < text.size() ? text.substr(from) : "", fragments);
  }

  std::unique_ptr<ServerUser> alice_;
};

void Overwrite(const std::string& path, std::size_t offset, char value) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(offset));
  file.write(&value, 1);
}

TEST_F(UploadTest, NewEntriesReachTheServiceAndOnlyMissingChunksTravel) {
  const std::string known = TestBytes(3000, 40);
  ASSERT_TRUE(alice_->PutFile("/elsewhere.bin", known, ServerTime(1)));
  struct Entry {
    std::string rel;
    std::string content;  // "<folder>": a folder
    std::size_t chunksSent;
  };
  const std::vector<Entry> entries = {
      {"/empty folder", kFolderState, 0},
      {"/docs", kFolderState, 0},
      {"/docs/empty.txt", "", 0},
      {"/docs/one.bin", "x", 1},
      {"/docs/exact.bin", TestBytes(4 * kMiB, 41), 1},
      {"/docs/over.bin", TestBytes(4 * kMiB + 1, 42), 2},
      {"/docs/known.bin", known, 0},  // the service holds its chunk already
      {Local("/文件夹/名字.txt"), Local("内容"), 1},
  };
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  const long long before = service_->Counter("transmitter_requests");
  // Made aside and moved in whole: a run the watcher starts meanwhile must
  // not see (and send) a file half written.
  const std::string staging = Root("staging");
  for (const Entry& entry : entries) {
    if (entry.content == kFolderState) {
      fs::create_directories(staging + entry.rel);
    } else {
      fs::create_directories(fs::path(staging + entry.rel).parent_path());
      WriteFile(staging + entry.rel, entry.content);
    }
  }
  for (const auto& top : fs::directory_iterator(staging)) {
    fs::rename(top.path(), engine->Local("/" + top.path().filename().string()));
  }
  EXPECT_EQ(engine->Sync(), 2);

  std::size_t chunks = 0;
  for (const Entry& entry : entries) chunks += entry.chunksSent;
  EXPECT_EQ(static_cast<std::size_t>(service_->Counter("transmitter_requests") - before), chunks);
  EXPECT_EQ(LocalTree(engine->UserFolder()), ServiceTree(*alice_, *service_));
  EXPECT_TRUE(log_.Contains("Create a folder {/empty folder} on Server"));
  EXPECT_TRUE(log_.Contains("Upload a file {/docs/over.bin)"));
  EXPECT_TRUE(log_.Contains(Local("上载文件: ") + "/docs/one.bin(1, "));

  // Everything is recorded as synchronised: the next run sends nothing.
  const std::size_t from = log_.Text().size();
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(Requests(from, {"name=\"upload_file\""}), 0u);
}

TEST_F(UploadTest, AChangedChunkTravelsAsADeltaOrWholeWhenTheDeltaFails) {
  const std::size_t size = 12 * kMiB;  // three chunks
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  WriteFile(engine->Local("/three.bin"), TestBytes(size, 43));
  EXPECT_EQ(engine->Sync(), 2);

  struct Change {
    const char* name;
    std::size_t offset;
    bool oldChunkLost;  // the service lost the old chunk the delta builds on
    std::size_t deltas;
    std::size_t whole;
  };
  for (const Change& change : {Change{"a delta", 5 * kMiB, false, 1, 0},
                               Change{"the whole chunk after a failed delta", 9 * kMiB, true, 1, 1}}) {
    SCOPED_TRACE(change.name);
    if (change.oldChunkLost) {
      const CFileInfo stored = alice_->Describe(alice_->ServerPath("/three.bin"));
      ASSERT_EQ(stored.chunks.size(), 3u);
      fs::remove(service_->ChunkFile(stored.chunks[2].storageId));
    }
    const std::size_t from = log_.Text().size();
    Overwrite(engine->Local("/three.bin"), change.offset, 'Q');
    EXPECT_EQ(engine->Sync(), 2);
    EXPECT_EQ(Requests(from, {"name=\"upload_chunk\"", "delta_flag=\"yes\""}), change.deltas);
    EXPECT_EQ(Requests(from, {"name=\"upload_chunk\"", "delta_flag=\"no\""}), change.whole);
    EXPECT_EQ(log_.Text().find("Fail to upload a chunk to transmiter", from) != std::string::npos,
              change.oldChunkLost);
    EXPECT_EQ(LocalTree(engine->UserFolder()), ServiceTree(*alice_, *service_));
  }
}

}  // namespace

namespace {

// An entry the service refuses is tried by every run, but named once: the
// runs end "synced except 1 entries" rather than unfinished.
TEST_F(UploadTest, AnEntryTheServiceRefusesIsTriedAgainButNamedOnce) {
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  WriteFile(engine->Local("/tab\there.txt"), "t");
  WriteFile(engine->Local("/fine.txt"), "f");
  const std::size_t from = log_.Text().size();
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(engine->Sync(), 2);
  const std::string named = "balloon: alice: " + Local("无法同步: ") + "/tab?here.txt" + Local("（名称中含有控制字符（如换行））");
  EXPECT_EQ(engine->sink().Count(named), 1u);
  EXPECT_GE(engine->sink().Count("tray: 2 alice - " + Local("已同步，1 个项目除外")), 2u);
  EXPECT_GE(Requests(from, {"name=\"upload_file\"", "tab&#9;here.txt"}), 2u);
  EXPECT_TRUE(alice_->List().count(CFileJournal::ToKey(alice_->ServerPath("/fine.txt"))));
}

// ---------------------------------------------------------------------------
// Several files in flight

// The service's answer to the announcement of `name`, made a refusal.
MutatingProxy::Mutation RefuseAnnouncementOf(const std::string& name, std::function<void()> alsoDo = nullptr) {
  return [name, alsoDo](ProxiedExchange& exchange) {
    if (exchange.payload != "upload_file_rsp" || exchange.requestBody.find(name) == std::string::npos) return false;
    if (alsoDo) {
      alsoDo();
      return false;
    }
    const std::size_t at = exchange.body.find("result=\"OK\"");
    if (at == std::string::npos) return false;
    exchange.body.replace(at, 11, "result=\"FAIL\"");
    return true;
  };
}

// One file refused on its lane fails alone: the files on the other lanes are
// stored and recorded, and the run ends unfinished; the next one sends it.
TEST_F(UploadTest, AFileTheServiceRefusesFailsAloneWhileTheOtherLanesGoOn) {
  MutatingProxy proxy(service_->Port());
  TestEngine engine(Root(), proxy.Url("/vorportal/LoginServlet"), "alice", "alice-pw");
  ASSERT_TRUE(engine.Started());
  ASSERT_EQ(engine.LogIn(), 1);
  fs::create_directories(engine.Local("/lanes"));
  for (int i = 0; i < 6; ++i) WriteFile(engine.Local("/lanes/f" + std::to_string(i)), TestBytes(5 * kMiB, 60 + i));
  WriteFile(engine.Local("/lanes/refused.bin"), TestBytes(5 * kMiB, 70));
  proxy.SetMutation(RefuseAnnouncementOf("refused.bin"));
  EXPECT_EQ(engine.Sync(), 0);
  EXPECT_GE(proxy.Mutated(), 1u);
  const CBack::FileMap listed = alice_->List();
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(listed.count(CFileJournal::ToKey(alice_->ServerPath("/lanes/f" + std::to_string(i))))) << i;
  }
  EXPECT_FALSE(listed.count(CFileJournal::ToKey(alice_->ServerPath("/lanes/refused.bin"))));
  proxy.SetMutation(nullptr);
  EXPECT_EQ(engine.Sync(), 2);
  EXPECT_EQ(LocalTree(engine.UserFolder()), ServiceTree(*alice_, *service_));
}

// A logout while several files travel ends every lane promptly; nothing is
// recorded as stored that is not, and the next login finishes the upload.
TEST_F(UploadTest, ALogoutWhileSeveralFilesTravelStopsEveryLane) {
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  fs::create_directories(engine->Local("/many"));
  for (int i = 0; i < 4; ++i) WriteFile(engine->Local("/many/f" + std::to_string(i)), TestBytes(16 * kMiB, 80 + i));
  const std::size_t from = log_.Text().size();
  ASSERT_EQ(engine->work().Request(WM_WORK_SYNC, 0), 1);
  for (int i = 0; i < 20000 && Requests(from, {"name=\"upload_chunk\""}) < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(Requests(from, {"name=\"upload_chunk\""}), 2u);
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(engine->LogOut());
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
  EXPECT_TRUE(log_.Contains("User request logout"));
  EXPECT_LT(Requests(from, {"name=\"upload_chunk\""}), 16u);  // far from all of them
  ASSERT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(LocalTree(engine->UserFolder()), ServiceTree(*alice_, *service_));
}

// A large file changed after it was cut and announced: no chunk leaves under
// a key its bytes do not have; the file fails, and the repeated pass sends
// the new content.
TEST_F(UploadTest, AFileChangedBetweenCuttingAndSendingIsSentAgainWithItsNewContent) {
  MutatingProxy proxy(service_->Port());
  TestEngine engine(Root(), proxy.Url("/vorportal/LoginServlet"), "alice", "alice-pw");
  ASSERT_TRUE(engine.Started());
  ASSERT_EQ(engine.LogIn(), 1);
  const std::string path = engine.Local("/large.bin");
  WriteFile(Root("staging.bin"), TestBytes(64 * kMiB, 90));
  fs::rename(Root("staging.bin"), path);  // whole: no run sees it half written
  bool changed = false;
  proxy.SetMutation(RefuseAnnouncementOf("large.bin", [&] {
    if (changed) return;
    changed = true;
    Overwrite(path, 40 * kMiB + 5, '!');  // chunk 10, before the service asks for it
  }));
  EXPECT_EQ(engine.Sync(), 2);
  EXPECT_TRUE(changed);
  EXPECT_TRUE(log_.Contains("no longer holds chunk 10"));
  EXPECT_EQ(LocalTree(engine.UserFolder()), ServiceTree(*alice_, *service_));
}

}  // namespace
