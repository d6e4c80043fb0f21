// The download side of the decision tables: what happens to a local entry
// that meets a new, changed or removed server entry. A local version that
// differs from what the journal last recorded is never lost: it moves aside
// under its conflict name.
#include <filesystem>

#include "tests/e2e/engine/EngineFixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kConflict = ".conflict(";

class ConflictTest : public EngineE2ETest {
 protected:
  void SetUp() override {
    EngineE2ETest::SetUp();
    alice_ = std::make_unique<ServerUser>(service_->AuthUrl(), "alice", "alice-pw");
    ASSERT_TRUE(alice_->Ready());
  }

  // The conflict copies of `rel` in its folder.
  std::vector<std::string> ConflictCopies(const TestEngine& engine, const std::string& rel) {
    const fs::path path(engine.Local(rel));
    return NamesStartingWith(path.parent_path().string(), path.filename().string() + kConflict);
  }
  std::string OnlyConflictCopy(const TestEngine& engine, const std::string& rel) {
    const std::vector<std::string> copies = ConflictCopies(engine, rel);
    EXPECT_EQ(copies.size(), 1u) << rel;
    if (copies.size() != 1) return "<none>";
    return ReadFile((fs::path(engine.Local(rel)).parent_path() / copies[0]).string());
  }

  std::unique_ptr<ServerUser> alice_;
};

TEST_F(ConflictTest, ANewServerEntryMeetingALocalOne) {
  struct Row {
    const char* name;
    std::string rel;
    std::string server;  // content; "<folder>" for a folder
    std::string local;   // content; "<folder>" for a folder
    bool setAside;       // the local entry moves to its conflict name
  };
  const std::string folder = "<folder>";
  const Row rows[] = {
      {"identical file kept", "/same.txt", "same bytes", "same bytes", false},
      {"differing file set aside", "/differ.txt", "server bytes", "local bytes", true},
      {"local folder where the server has a file", "/was-folder", "server file", folder, true},
      {"local file where the server has a folder", "/was-file", folder, "local file", true},
      {"folders meet", "/both-folders", folder, folder, false},
  };
  for (const Row& row : rows) {
    if (row.server == folder) {
      ASSERT_TRUE(alice_->PutFolder(row.rel));
    } else {
      ASSERT_TRUE(alice_->PutFile(row.rel, row.server, ServerTime(1)));
    }
  }
  auto engine = Engine("alice", "alice-pw");
  for (const Row& row : rows) {
    fs::create_directories(engine->UserFolder());
    if (row.local == folder) {
      fs::create_directories(engine->Local(row.rel));
    } else {
      WriteFile(engine->Local(row.rel), row.local);
    }
  }
  engine->sink().answerOk = true;  // the user folder exists: synchronise it anyway
  ASSERT_EQ(engine->LogIn(), 1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = engine->Local(row.rel);
    if (row.server == folder) {
      EXPECT_TRUE(fs::is_directory(path));
    } else {
      EXPECT_EQ(ReadFile(path), row.server);
    }
    if (!row.setAside) {
      EXPECT_TRUE(ConflictCopies(*engine, row.rel).empty());
    } else if (row.local == folder) {
      ASSERT_EQ(ConflictCopies(*engine, row.rel).size(), 1u);
    } else {
      EXPECT_EQ(OnlyConflictCopy(*engine, row.rel), row.local);
    }
  }
  EXPECT_TRUE(log_.Contains("file {/same.txt} exisits on local"));
  // The two differing files came over the network; the identical one did not.
  EXPECT_EQ(LoggedRequests(log_.Text(), {"name=\"download_chunk\""}), 2u);
}

TEST_F(ConflictTest, ServerRemovalsDeleteOnlyWhatIsUnchangedLocally) {
  ASSERT_TRUE(alice_->PutFile("/stays.txt", "an empty listing is never applied", ServerTime(1)));
  ASSERT_TRUE(alice_->PutFile("/unchanged.txt", "unchanged", ServerTime(1)));
  ASSERT_TRUE(alice_->PutFile("/longer.txt", "original", ServerTime(1)));
  ASSERT_TRUE(alice_->PutFile("/same-size.txt", "original", ServerTime(1)));
  ASSERT_TRUE(alice_->PutFolder("/gone"));
  ASSERT_TRUE(alice_->PutFile("/gone/inner.txt", "inner", ServerTime(1)));
  ASSERT_TRUE(alice_->PutFolder("/kept"));
  ASSERT_TRUE(alice_->PutFile("/kept/inner.txt", "inner", ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);

  // Both sides change as the run begins, before it lists the service: a run
  // the watcher started earlier would send the local changes first.
  bool changed = false;
  engine->sink().onSend = [&](const Notice& notice) {
    if (changed || notice.id != WM_SET_TRAY_STATE || notice.state != 1) return;
    changed = true;
    WriteFile(engine->Local("/longer.txt"), "changed locally");
    WriteFile(engine->Local("/same-size.txt"), "ORIGINAL");  // the same size, other bytes
    WriteFile(engine->Local("/kept/mine.txt"), "never synchronised");
    for (const char* rel : {"/unchanged.txt", "/longer.txt", "/same-size.txt", "/gone", "/kept"}) {
      EXPECT_TRUE(alice_->Remove(rel)) << rel;
    }
  };
  engine->Sync();
  engine->sink().onSend = nullptr;
  ASSERT_TRUE(changed);

  EXPECT_FALSE(Exists(engine->Local("/unchanged.txt")));
  EXPECT_FALSE(Exists(engine->Local("/longer.txt")));
  EXPECT_EQ(OnlyConflictCopy(*engine, "/longer.txt"), "changed locally");
  EXPECT_FALSE(Exists(engine->Local("/same-size.txt")));
  EXPECT_EQ(OnlyConflictCopy(*engine, "/same-size.txt"), "ORIGINAL");
  EXPECT_FALSE(Exists(engine->Local("/gone")));
  EXPECT_TRUE(Exists(engine->Local("/stays.txt")));
  // A folder holding the user's own file stays with it; what was synchronised goes.
  EXPECT_EQ(ReadFile(engine->Local("/kept/mine.txt")), "never synchronised");
  EXPECT_FALSE(Exists(engine->Local("/kept/inner.txt")));

  std::vector<std::string> finished;
  for (std::size_t i = 0; i < engine->work().FinishedCount(); ++i) {
    std::string entry;
    engine->work().GetFinished(i, entry);
    finished.push_back(entry);
  }
  EXPECT_NE(std::find(finished.begin(), finished.end(), Local("删除 ") + engine->Local("/unchanged.txt")),
            finished.end());
}

TEST_F(ConflictTest, AChangeOnBothSidesKeepsTheLocalVersionAsTheConflictCopy) {
  ASSERT_TRUE(alice_->PutFile("/both.txt", "first", ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  // The server change comes first: a local edit alone is sent to the
  // service by the run the watcher starts.
  ASSERT_TRUE(alice_->ChangeFile("/both.txt", "server edit!", ServerTime(2)));
  WriteFile(engine->Local("/both.txt"), "local edit");
  engine->Sync();
  EXPECT_EQ(ReadFile(engine->Local("/both.txt")), "server edit!");
  EXPECT_EQ(LocalTime(engine->Local("/both.txt")), ServerTime(2));
  EXPECT_EQ(OnlyConflictCopy(*engine, "/both.txt"), "local edit");
}

TEST_F(ConflictTest, AFileDeletedLocallyButChangedOnTheServerComesBackAsTheConflictCopy) {
  ASSERT_TRUE(alice_->PutFile("/deleted.txt", "first", ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  // The server change comes first: a local removal alone is reported to the
  // service by the run the watcher starts.
  ASSERT_TRUE(alice_->ChangeFile("/deleted.txt", "changed on the server", ServerTime(2)));
  fs::remove(engine->Local("/deleted.txt"));
  engine->Sync();
  EXPECT_FALSE(Exists(engine->Local("/deleted.txt")));
  EXPECT_EQ(OnlyConflictCopy(*engine, "/deleted.txt"), "changed on the server");
}

TEST_F(ConflictTest, AServerChangeOfAnUnchangedFileReplacesIt) {
  ASSERT_TRUE(alice_->PutFile("/plain.txt", "first", ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  ASSERT_TRUE(alice_->ChangeFile("/plain.txt", "second version", ServerTime(2)));
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(ReadFile(engine->Local("/plain.txt")), "second version");
  EXPECT_TRUE(ConflictCopies(*engine, "/plain.txt").empty());
}

}  // namespace
