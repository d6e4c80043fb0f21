// Server content arriving in the user folder: new files and folders, copies
// of content already on disk, updates, a chunk the transmitter lacks, and a
// logout in the middle of a download.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "foundation/Util.h"
#include "tests/e2e/engine/EngineFixture.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

class DownloadTest : public EngineE2ETest {
 protected:
  std::unique_ptr<ServerUser> Alice() {
    auto user = std::make_unique<ServerUser>(service_->AuthUrl(), "alice", "alice-pw");
    EXPECT_TRUE(user->Ready());
    return user;
  }
};

TEST_F(DownloadTest, FirstPassOnAnEmptyAccountStoresTheRootAndFinishes) {
  auto engine = Engine("alice", "alice-pw");
  EXPECT_EQ(engine->work().IsFirstSync(), 1);
  ASSERT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(engine->work().IsFirstSync(), 0);
  EXPECT_EQ(engine->sink().WaitForRunEnd(1), 2);
  EXPECT_TRUE(log_.Contains("---- download all ----"));
  EXPECT_FALSE(engine->work().GetConfig().Get(CConfig::kServerRoot).empty());
  EXPECT_EQ(NamesStartingWith(engine->UserFolder(), ""), std::vector<std::string>{"desktop.ini"});
  EXPECT_EQ(engine->work().FinishedCount(), 0u);
  EXPECT_EQ(engine->sink().Count("status: " + Local("同步完成")), 1u);
  for (const std::string& line : engine->sink().Lines()) EXPECT_NE(line.rfind("balloon:", 0), 0u) << line;
  // The next pass lists the account the regular way.
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_TRUE(log_.Contains("---- get job ----"));
}

TEST_F(DownloadTest, NewFilesAndFoldersArriveByteIdentical) {
  struct Entry {
    std::string rel;
    std::size_t size;  // npos: a folder
  };
  const std::vector<Entry> first = {
      {"/docs", std::string::npos},          {"/docs/sub", std::string::npos},
      {"/docs/empty folder", std::string::npos}, {"/empty.bin", 0},
      {"/one.bin", 1},                       {"/docs/exact.bin", 4194304},
      {"/docs/over.bin", 4194305},           {"/docs/sub/big.bin", 20 * kMiB},
  };
  const std::vector<Entry> later = {{"/later", std::string::npos}, {"/later/note.txt", 7}};
  auto alice = Alice();
  std::map<std::string, std::string> contents;
  unsigned seed = 1;
  const auto put = [&](const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
      if (entry.size == std::string::npos) {
        ASSERT_TRUE(alice->PutFolder(entry.rel)) << entry.rel;
        continue;
      }
      contents[entry.rel] = TestBytes(entry.size, seed);
      ASSERT_TRUE(alice->PutFile(entry.rel, contents[entry.rel], ServerTime(seed))) << entry.rel;
      ++seed;
    }
  };
  const auto check = [&](const TestEngine& engine, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
      const std::string path = engine.Local(entry.rel);
      if (entry.size == std::string::npos) {
        EXPECT_TRUE(fs::is_directory(path)) << entry.rel;
        continue;
      }
      EXPECT_EQ(ReadFile(path), contents[entry.rel]) << entry.rel;
      EXPECT_EQ(fs::file_size(path), entry.size) << entry.rel;
    }
  };
  put(first);
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);  // the first pass: the whole account at once
  EXPECT_EQ(engine->sink().WaitForRunEnd(1), 2);
  check(*engine, first);
  EXPECT_EQ(LocalTime(engine->Local("/empty.bin")), ServerTime(1));
  EXPECT_EQ(LocalTime(engine->Local("/one.bin")), ServerTime(2));
  EXPECT_EQ(LocalTime(engine->Local("/docs/sub/big.bin")), ServerTime(5));
  EXPECT_TRUE(NamesStartingWith(engine->UserFolder(), ".vessatmp").empty());
  EXPECT_EQ(engine->work().GetMark("/docs/sub/big.bin"), 1);
  EXPECT_EQ(engine->work().GetMark("/docs"), 1);

  // Every entry is listed as downloaded; the balloon names the last one.
  EXPECT_EQ(engine->work().FinishedCount(), first.size());
  std::string last;
  ASSERT_TRUE(engine->work().GetFinished(first.size() - 1, last));
  EXPECT_EQ(last, Local("下载 ") + engine->Local("/one.bin"));
  EXPECT_EQ(engine->sink().Count("balloon: alice: " + Local("同步完成: ") + last + "..."), 1u);

  put(later);  // a regular pass: the listing names chunks, the details are asked for
  EXPECT_EQ(engine->Sync(), 2);
  check(*engine, later);
  check(*engine, first);
}

TEST_F(DownloadTest, EachEntryIsLookedUpAloneInsteadOfScanningTheFolderPerEntry) {
  auto alice = Alice();
  ASSERT_TRUE(alice->PutFolder("/many"));
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(alice->PutFile("/many/f" + std::to_string(i), TestBytes(100, i), ServerTime(i)));
  }
  auto engine = Engine("alice", "alice-pw");
  fs::create_directories(engine->Local("/many"));
  WriteFile(engine->Local("/many/f3"), TestBytes(100, 3));     // already there: kept
  WriteFile(engine->Local("/many/f4"), "a different local f4");  // differs: set aside
  log_.logger().SetLevel(CLogger::kDebug);                       // the scan's lines are debug lines
  ASSERT_EQ(engine->LogIn(), 1);
  const std::string log = log_.Text();
  const std::size_t phase = log.find("---- downloading  ----");
  const std::size_t end = log.find("---- upload ----", phase);
  ASSERT_NE(end, std::string::npos);
  std::size_t scans = 0;
  for (std::size_t at = log.find("local filesystem", phase); at < end; at = log.find("local filesystem", at + 1)) {
    ++scans;
  }
  EXPECT_EQ(scans, 1u);
  EXPECT_TRUE(log_.Contains("file {/many/f3} exisits on local"));
  EXPECT_EQ(NamesStartingWith(engine->Local("/many"), "f4.conflict(").size(), 1u);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(ReadFile(engine->Local("/many/f" + std::to_string(i))), TestBytes(100, i));
}

TEST_F(DownloadTest, ContentAlreadyOnDiskIsCopiedInsteadOfDownloaded) {
  auto alice = Alice();
  const std::string content = TestBytes(5 * kMiB, 7);
  ASSERT_TRUE(alice->PutFile("/original.bin", content, ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  const long long before = service_->Counter("transmitter_requests");
  ASSERT_TRUE(alice->PutFile("/copy.bin", content, ServerTime(2)));
  const long long uploaded = service_->Counter("transmitter_requests") - before;  // none: the service had the chunks
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(service_->Counter("transmitter_requests") - before - uploaded, 0);
  EXPECT_TRUE(log_.Contains("Get copy from local file:"));
  EXPECT_EQ(ReadFile(engine->Local("/copy.bin")), content);
  EXPECT_EQ(LocalTime(engine->Local("/copy.bin")), ServerTime(2));

  // A source edited since it was recorded (same size) is no source: the
  // server's content is downloaded instead. The edit lands as the run
  // starts, before the upload phase could record it.
  std::string edited = content;
  edited[100] = static_cast<char>(edited[100] ^ 0x55);
  bool editedAtStart = false;
  engine->sink().onSend = [&](const Notice& notice) {
    if (editedAtStart || notice.id != WM_SET_TRAY_STATE || notice.state != 1) return;
    editedAtStart = true;
    WriteFile(engine->Local("/original.bin"), edited);
    WriteFile(engine->Local("/copy.bin"), edited);
  };
  ASSERT_TRUE(alice->PutFile("/third.bin", content, ServerTime(3)));
  const long long beforeThird = service_->Counter("transmitter_requests");
  EXPECT_EQ(engine->Sync(), 2);
  engine->sink().onSend = nullptr;
  EXPECT_EQ(ReadFile(engine->Local("/third.bin")), content);
  EXPECT_GT(service_->Counter("transmitter_requests"), beforeThird);
  EXPECT_TRUE(log_.Contains("Fail to get copy from local:"));
}

TEST_F(DownloadTest, AnUpdateFetchesOnlyTheChunksTheLocalFileLacks) {
  auto alice = Alice();
  std::string content = TestBytes(12 * kMiB, 3);
  ASSERT_TRUE(alice->PutFile("/large.bin", content, ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  content[5 * kMiB] = static_cast<char>(content[5 * kMiB] + 1);  // inside the second chunk
  ASSERT_TRUE(alice->ChangeFile("/large.bin", content, ServerTime(2)));
  const CFileInfo changed = alice->Describe(alice->ServerPath("/large.bin"));
  ASSERT_EQ(changed.chunks.size(), 3u);
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(ReadFile(engine->Local("/large.bin")), content);
  EXPECT_EQ(LocalTime(engine->Local("/large.bin")), ServerTime(2));
  const std::string log = log_.Text();
  EXPECT_EQ(ChunkRequests(log, changed.chunks[0].storageId), 1u);  // the first download only
  EXPECT_EQ(ChunkRequests(log, changed.chunks[1].storageId), 1u);  // the changed chunk
  EXPECT_EQ(ChunkRequests(log, changed.chunks[2].storageId), 1u);
  EXPECT_TRUE(log_.Contains(Local("更新文件: ")));
  std::string last;
  ASSERT_TRUE(engine->work().GetFinished(engine->work().FinishedCount() - 1, last));
  EXPECT_EQ(last, Local("修改 ") + engine->Local("/large.bin"));
}

// A user folder kept on another file system (reached through a link): a
// file assembled in the cache folder cannot be renamed across, so it is
// copied in.
TEST_F(DownloadTest, AFileAssembledAheadReachesAUserFolderOnAnotherFileSystem) {
  const fs::path elsewhere = fs::path("/dev/shm") / ("vessa-test-" + std::to_string(::getpid()));
  std::error_code error;
  fs::create_directories(elsewhere / "alice", error);
  fs::create_directories(Root());
  struct stat cacheSide {};
  struct stat userSide {};
  if (error || stat(Root().c_str(), &cacheSide) != 0 || stat(elsewhere.c_str(), &userSide) != 0 ||
      cacheSide.st_dev == userSide.st_dev) {
    fs::remove_all(elsewhere, error);
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  fs::create_directory_symlink(elsewhere / "alice", Root() + "/alice");
  auto alice = Alice();
  const std::string content = TestBytes(9 * kMiB, 21);
  ASSERT_TRUE(alice->PutFile("/far.bin", content, ServerTime(1)));
  auto engine = Engine("alice", "alice-pw");
  EXPECT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(engine->sink().WaitForRunEnd(1), 2);
  EXPECT_EQ(ReadFile((elsewhere / "alice/far.bin").string()), content);
  EXPECT_EQ(LocalTime((elsewhere / "alice/far.bin").string()), ServerTime(1));
  EXPECT_TRUE(log_.Contains("the user folder lies on another file system"));
  EXPECT_FALSE(log_.Contains("Fail to rename"));
  engine.reset();
  fs::remove_all(elsewhere, error);
}

// A file below the memory threshold is fetched into memory, a larger one
// assembled as its chunks arrive; either way a missing chunk fails only its
// file, and what arrived is not fetched again.
class MissingChunkTest : public DownloadTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(MissingChunkTest, FailsOnlyThatFileUntilItIsBack) {
  auto alice = Alice();
  const std::string three = TestBytes(GetParam(), 11);
  const std::string other = TestBytes(1000, 12);
  ASSERT_TRUE(alice->PutFile("/three.bin", three, ServerTime(1)));
  ASSERT_TRUE(alice->PutFile("/other.bin", other, ServerTime(2)));
  const CFileInfo described = alice->Describe(alice->ServerPath("/three.bin"));
  ASSERT_GE(described.chunks.size(), 3u);
  const std::string missing = service_->ChunkFile(described.chunks[1].storageId);
  ASSERT_TRUE(Exists(missing));
  fs::rename(missing, missing + ".away");

  auto engine = Engine("alice", "alice-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(engine->sink().WaitForRunEnd(1), 0);  // unfinished
  EXPECT_EQ(ReadFile(engine->Local("/other.bin")), other);
  EXPECT_FALSE(Exists(engine->Local("/three.bin")));
  EXPECT_TRUE(NamesStartingWith(engine->UserFolder(), ".vessatmp").empty());
  EXPECT_TRUE(log_.Contains("Fail to download a chunk {" + described.chunks[1].key + "} from transmitter"));

  fs::rename(missing + ".away", missing);
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_EQ(ReadFile(engine->Local("/three.bin")), three);
  const std::string log = log_.Text();
  for (std::size_t i = 0; i < described.chunks.size(); ++i) {
    if (i == 1) continue;
    EXPECT_EQ(ChunkRequests(log, described.chunks[i].storageId), 1u) << i;  // kept in the cache meanwhile
  }
  EXPECT_GE(ChunkRequests(log, described.chunks[1].storageId), 2u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MissingChunkTest, testing::Values(9 * kMiB, 68 * kMiB + 5));

TEST_F(DownloadTest, LogoutDuringADownloadStopsBeforeTheNextChunk) {
  auto alice = Alice();
  ASSERT_TRUE(alice->PutFile("/huge.bin", TestBytes(40 * kMiB, 5), ServerTime(1)));
  const CFileInfo described = alice->Describe(alice->ServerPath("/huge.bin"));
  ASSERT_EQ(described.chunks.size(), 10u);
  auto engine = Engine("alice", "alice-pw");
  constexpr uintptr_t kLogoutWindow = 7;
  // As soon as the first chunk has been asked for, the user logs out.
  std::atomic<bool> asked{false};
  std::thread user([&] {
    for (int i = 0; i < 60000 && !asked; ++i) {
      if (ChunkRequests(log_.Text(), described.chunks[0].storageId) > 0) {
        asked = engine->work().Request(WM_WORK_LOGOUT, kLogoutWindow) == 1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  ASSERT_EQ(engine->work().Request(WM_WORK_LOGIN, TestEngine::kWindow), 1);
  EXPECT_EQ(engine->sink().WaitForPost(kLogoutWindow, WM_WORK_LOGOUT_DONE, 60000), 0);
  user.join();
  ASSERT_TRUE(asked);

  EXPECT_TRUE(log_.Contains("User request logout"));
  EXPECT_FALSE(Exists(engine->Local("/huge.bin")));
  EXPECT_TRUE(NamesStartingWith(engine->UserFolder(), ".vessatmp").empty());
  std::size_t fetched = 0;
  const std::string log = log_.Text();
  for (const CChunkInfo& chunk : described.chunks) fetched += ChunkRequests(log, chunk.storageId);
  EXPECT_GE(fetched, 1u);
  EXPECT_LT(fetched, described.chunks.size());
  // The run reports itself unfinished before the logout is answered.
  const std::vector<std::string> lines = engine->sink().Lines();
  const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
  EXPECT_LT(at("status: " + Local("同步未完成")), at("tray: 0 Ordane Storage Service"));
  EXPECT_EQ(engine->work().IsLoggedIn(), 0);
}

TEST_F(DownloadTest, ASharedFolderRenamedOnTheServerMovesWithItsContent) {
  ASSERT_EQ(service_->Admin({"adduser", "bob", "bob-pw"}), 0);
  auto alice = Alice();
  ASSERT_TRUE(alice->PutFolder("/project"));
  ASSERT_TRUE(alice->PutFile("/project/plan.txt", "the plan", ServerTime(1)));
  ASSERT_EQ(service_->Admin({"share", "alice", "/project", "bob"}), 0);

  auto engine = Engine("bob", "bob-pw");
  ASSERT_EQ(engine->LogIn(), 1);
  EXPECT_EQ(engine->sink().WaitForRunEnd(1), 2);
  const std::string marker = ReadFile(engine->Local("/project/.vessashare"));
  ASSERT_FALSE(marker.empty());
  EXPECT_EQ(ReadFile(engine->Local("/project/plan.txt")), "the plan");

  ServerUser bob(service_->AuthUrl(), "bob", "bob-pw", "bobs-laptop");
  ASSERT_TRUE(bob.Ready());
  ASSERT_TRUE(bob.Rename("/project", "/alice's project"));
  const long long before = service_->Counter("transmitter_requests");
  EXPECT_EQ(engine->Sync(), 2);
  EXPECT_FALSE(Exists(engine->Local("/project")));
  EXPECT_EQ(ReadFile(engine->Local("/alice's project/plan.txt")), "the plan");
  EXPECT_EQ(ReadFile(engine->Local("/alice's project/.vessashare")), marker);
  EXPECT_EQ(service_->Counter("transmitter_requests"), before);  // moved, not fetched again
}

}  // namespace
