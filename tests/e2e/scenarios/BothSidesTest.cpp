// Two writers of one file: whichever way the change meets the other, one
// version keeps the name, the other becomes one conflict copy, nothing is
// lost; and a file written while it travels ends the same everywhere.
#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/e2e/scenarios/ScenarioFixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kConflict = ".conflict(";

// The conflict copies of `rel` in its folder, with their bytes.
std::vector<std::string> ConflictCopies(const TestEngine& engine, const std::string& rel) {
  const fs::path path(engine.Local(rel));
  std::vector<std::string> contents;
  for (const std::string& name : NamesStartingWith(path.parent_path().string(), path.filename().string() + kConflict)) {
    contents.push_back(ReadFile((path.parent_path() / name).string()));
  }
  return contents;
}

TEST_F(ScenarioTest, AFileChangedOnBothSidesKeepsBothVersions) {
  WriteFileAt(a_->Local("/plan.txt"), "the first plan");
  SyncBoth();

  // A's change reaches the service first; B, changed since its last run
  // too, meets it when it lists the service.
  WriteFileAt(a_->Local("/plan.txt"), "A's plan");
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  WriteFileAt(b_->Local("/plan.txt"), "B's plan, written second");
  SyncBoth();
  ExpectAgreement();
  for (const TestEngine* engine : {a_.get(), b_.get()}) {
    EXPECT_EQ(ReadFile(engine->Local("/plan.txt")), "A's plan");
    EXPECT_EQ(ConflictCopies(*engine, "/plan.txt"), std::vector<std::string>{"B's plan, written second"});
  }
}

TEST_F(ScenarioTest, AChangeTheServiceRefusesAsAConflictKeepsBothVersions) {
  WriteFileAt(a_->Local("/race.txt"), "the first text");
  SyncBoth();

  // B lists the service before A's change arrives there, and announces its
  // own change after it: the service answers with a conflict.
  const std::string uploading = "status: " + Local("上载文件: ") + b_->Local("/race.txt");
  std::atomic<bool> raced{false};
  b_->sink().onSend = [&](const Notice& notice) {
    if (raced || notice.id != WM_SHOW_STATUS || "status: " + notice.text != uploading) return;
    raced = true;
    EXPECT_EQ(a_->Sync(), 2);
  };
  const std::size_t from = LogSize();
  WriteFileAt(a_->Local("/race.txt"), "A was first");
  WriteFileAt(b_->Local("/race.txt"), "B came second");
  EXPECT_EQ(b_->Sync(), 2);
  b_->sink().onSend = nullptr;
  ASSERT_TRUE(raced);
  EXPECT_TRUE(WaitForLog("!!!Move a conflict file", from, 0));
  SyncBoth();
  ExpectAgreement();
  for (const TestEngine* engine : {a_.get(), b_.get()}) {
    EXPECT_EQ(ReadFile(engine->Local("/race.txt")), "A was first");
    EXPECT_EQ(ConflictCopies(*engine, "/race.txt"), std::vector<std::string>{"B came second"});
  }
}

TEST_F(ScenarioTest, AFileRewrittenWhileItIsUploadedEndsTheSameEverywhere) {
  struct Case {
    const char* name;
    std::size_t size;
  };
  // Below 64 MiB the chunks wait in memory, from 64 MiB on in the chunk cache.
  for (const Case& c : {Case{"held in memory", 40 * kMiB}, Case{"read back from the cache", 68 * kMiB}}) {
    SCOPED_TRACE(c.name);
    const std::string rel = "/moving-" + std::to_string(c.size) + ".bin";
    const std::string rewritten = TestBytes(c.size, 21);
    // As soon as the service stores the first chunk, the user saves a new
    // version of the same size over the file.
    const std::size_t stored = StoredChunks();
    std::atomic<bool> done{false};
    std::atomic<bool> rewrote{false};
    std::thread user([&] {
      while (!done && StoredChunks() == stored) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (done) return;
      WriteFile(a_->Local(rel), rewritten);
      rewrote = true;
    });
    WriteFileAt(a_->Local(rel), TestBytes(c.size, 20));
    const int ended = a_->Sync();
    done = true;
    user.join();
    ASSERT_TRUE(rewrote);
    if (ended != 2) {
      EXPECT_EQ(a_->Sync(), 2);  // a save during the last pass: one more run
    }
    SyncBoth();
    ExpectAgreement();
    EXPECT_EQ(FileState(ReadFile(b_->Local(rel))), FileState(rewritten));
  }
}

}  // namespace
