// The sync engine against the reference service (vessa-service as a child
// process on a loopback port) for an account of 100 000 entries: 1 000
// folders of 99 files. Measured from the login request to the end of the
// listing phase:
//   FirstSync  a new client: the whole account at once (download_all_file)
//              into an empty journal; the end is the first notice of the
//              download phase, where the benchmark logs out.
//   Regular    a client whose journal and user folder are in step with the
//              account: the regular listing (file_list, compressed) compared
//              with 100 000 journal rows and a scan of the user folder. No
//              notice marks the listing's end, so this is measured to the
//              end of the run, an upper bound.
//   PassWithNothingToDo
//              the same client once logged in: one run ("sync now") over
//              100 000 local files and journal rows that are all in step:
//              listing, download and upload phases, nothing to transfer.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "engine/AppLog.h"
#include "engine/Work.h"
#include "foundation/Logger.h"
#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "platform/FileTime.h"
#include "service/Service.h"
#include "service/Tree.h"
#include "store/ChunkJournal.h"
#include "store/FileJournal.h"
#include "tests/e2e/engine/ServiceProcess.h"
#include "tests/support/Md5Text.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 99;
constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench-pw";
constexpr int64_t kMtime = static_cast<int64_t>(kFileTimeUnixEpoch) + 1609459200LL * 10000000LL;

std::string FolderPath(int folder) {
  char text[32];
  std::snprintf(text, sizeof text, "/folder-%04d", folder);
  return text;
}

std::string FilePath(int folder, int file) {
  char text[32];
  std::snprintf(text, sizeof text, "/file-%02d.txt", file);
  return FolderPath(folder) + text;
}

std::string Content(int folder, int file) { return "content of " + FilePath(folder, file) + "\n"; }

// The account, written straight into the service's database with its own
// library in one transaction (the chunk rows only: listings never read
// chunk bytes).
bool PopulateService(const std::string& data) {
  std::string error;
  if (!InitDataFolder(data, error)) return false;
  CServiceDb db;
  if (!db.Open(DatabasePath(data), false, error)) return false;
  CChunkStore chunks(db, ChunkFolder(data));
  CAccounts accounts(db);
  CTree tree(db, accounts, chunks);
  UserRecord user;
  if (!accounts.AddUser(kUser, kPassword) || !accounts.FindUser(kUser, user)) return false;
  CTransaction all(db);
  for (int folder = 0; folder < kFolders; ++folder) {
    Location location;
    location.owner = user.id;
    location.path = FolderPath(folder);
    if (tree.MakeFolder(location, 1, "") != 0) return false;
    for (int file = 0; file < kFilesPerFolder; ++file) {
      const std::string content = Content(folder, file);
      const std::string key = Md5Text(content);
      const int64_t size = static_cast<int64_t>(content.size());
      const ChunkRow row = chunks.Reserve(key, size);
      chunks.MarkStored(key, row.storageKey, size);
      location.path = FilePath(folder, file);
      if (!tree.CommitFile(location, 0, size, kMtime, {ChunkRef{key, size, row.storageKey}}, "")) return false;
    }
  }
  all.Commit();
  return true;
}

// Logs the benchmark out at the first notice of the download phase and
// tells the waiting thread when the run or the logout is over.
class BenchSink : public INoticeSink, public IUserPrompt {
 public:
  CWork* work = nullptr;

  void Send(const Notice& notice) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (notice.id == WM_SETMESSAGESTRING && notice.text.rfind(downloadNotice_, 0) == 0 && !listed_) {
      listed_ = true;
      listedAt_ = Clock::now();
      work->Request(WM_WORK_LOGOUT, 1);
    }
    if (notice.id == WM_SET_TRAY_STATE && notice.state == 1) inRun_ = true;
    if (notice.id == WM_SET_TRAY_STATE && notice.state != 1 && inRun_) {
      inRun_ = false;
      ++runsEnded_;
      lastRunFinished_ = notice.state == 2;
      lastRunEndedAt_ = Clock::now();
    }
    if (notice.id == WM_SET_TRAY_STATE && notice.state != 1 && !runEnded_ && runsEnded_ > 0) {
      runEnded_ = true;
      runEndedAt_ = Clock::now();
      finished_ = notice.state == 2;
    }
    changed_.notify_all();
  }
  void ShowLoggedInIcon(const std::string&) override {}
  void ShowLoggedOutIcon() override {}
  void Post(uintptr_t, unsigned message, uintptr_t wParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (message == WM_WORK_LOGIN_DONE && !wParam) loginFailed_ = true;
    if (message == WM_WORK_LOGOUT_DONE) loggedOut_ = true;
    changed_.notify_all();
  }
  bool AskOkCancel(const std::string&) override { return true; }
  void ShowError(const std::string&) override {}

  // The seconds from `start` to the end of the listing (first sync) or of
  // the run; negative when the run did not get there.
  double WaitForListing(Clock::time_point start, bool untilRunEnd) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return loginFailed_ || runEnded_ || listed_; });
    if (untilRunEnd) changed_.wait(lock, [&] { return loginFailed_ || runEnded_; });
    if (loginFailed_) return -1;
    if (untilRunEnd) return finished_ ? std::chrono::duration<double>(runEndedAt_ - start).count() : -1;
    return listed_ ? std::chrono::duration<double>(listedAt_ - start).count() : -1;
  }
  // Asks for one more run and gives its seconds; negative when it did not finish.
  double TimeNextRun(CWork& work) {
    std::unique_lock<std::mutex> lock(mutex_);
    const int before = runsEnded_;
    lock.unlock();
    const Clock::time_point start = Clock::now();
    work.Request(WM_WORK_SYNC, 1);
    lock.lock();
    changed_.wait(lock, [&] { return runsEnded_ > before; });
    return lastRunFinished_ ? std::chrono::duration<double>(lastRunEndedAt_ - start).count() : -1;
  }
  void WaitForLogout() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return loggedOut_ || loginFailed_; });
  }

 private:
  const std::string downloadNotice_ = [] {
    std::string text = "下载新文件: ";
    CUtil::Utf8ToAnsi(text);
    return text;
  }();
  std::mutex mutex_;
  std::condition_variable changed_;
  bool listed_ = false, inRun_ = false, runEnded_ = false, finished_ = false, loginFailed_ = false,
       loggedOut_ = false, lastRunFinished_ = false;
  int runsEnded_ = 0;
  Clock::time_point listedAt_, runEndedAt_, lastRunEndedAt_;
};

struct Account {
  TempDir folder{"vessa-engine-bench"};
  ServiceProcess service{folder.path() + "/service-data"};
  bool ready = false;

  Account() { ready = PopulateService(folder.path() + "/service-data") && service.Start(); }
};

Account& TheAccount() {
  static Account account;
  return account;
}

// A client in step with the account: journal rows in sync and the files on disk.
bool PrepareRegularClient(CWork& work, const std::string& root) {
  const std::string userFolder = root + "/" + kUser;
  CFileJournal files;
  CChunkJournal chunks;
  const std::string db = root + "/.db/client.db";
  if (!files.Init(db) || !chunks.Init(db) || !files.OpenDB() || !files.BeginBatch()) return false;
  chunks.UseConnection(files.Connection());
  const timespec time = ToTimespec(static_cast<FileTime>(kMtime));
  for (int folder = 0; folder < kFolders; ++folder) {
    CFileInfo entry(kUser + FolderPath(folder), 1, 0);
    entry.mtime = 1;
    files.AddActive(entry);
    fs::create_directories(userFolder + FolderPath(folder));
    for (int file = 0; file < kFilesPerFolder; ++file) {
      const std::string content = Content(folder, file);
      CFileInfo info(kUser + FilePath(folder, file), 0, static_cast<int64_t>(content.size()));
      info.mtime = kMtime;
      info.AddChunk(Md5Text(content), static_cast<int32_t>(content.size()), "", "", 1);
      info.BuildChunkList();
      files.AddActive(info);
      const std::string local = userFolder + FilePath(folder, file);
      if (FILE* out = std::fopen(local.c_str(), "wb")) {
        std::fwrite(content.data(), 1, content.size(), out);
        std::fclose(out);
      }
      const timespec times[2] = {time, time};
      utimensat(AT_FDCWD, local.c_str(), times, 0);
    }
  }
  chunks.ReleaseConnection();
  const bool committed = files.CommitBatch();
  files.CloseDB();
  work.GetConfig().Set(CConfig::kLoginUser, kUser);
  return committed;
}

enum class Measure { kFirstSync, kRegularLogin, kIdlePass };

void RunLogin(benchmark::State& state, Measure measure) {
  const bool firstSync = measure == Measure::kFirstSync;
  Account& account = TheAccount();
  if (!account.ready) {
    state.SkipWithError("the account could not be prepared");
    return;
  }
  Timing& timing = ProcessTiming();
  timing.heartbeatIntervalMs = 3600000;
  timing.systemMessageFirstMs = 3600000;
  timing.passPauseMs = 1;
  for (auto _ : state) {
    state.PauseTiming();
    TempDir root("vessa-engine-bench-root");
    CUtil::WriteRootPath(root.path());
    std::unique_ptr<CLogger> logger = OpenAppLog();
    SetAppLogger(logger.get());
    BenchSink sink;
    double seconds = -1;
    {
      CWork work(sink, sink);
      sink.work = &work;
      if (!work.Init() || (!firstSync && !PrepareRegularClient(work, root.path()))) {
        state.SkipWithError("the engine could not start");
        break;
      }
      work.GetConfig().Set(CConfig::kAuthServer, account.service.AuthUrl());
      work.GetConfig().Set(CConfig::kHostName, "bench-pc");
      work.SetUser(kUser, kPassword);
      work.SetFirstSync(firstSync ? 1 : 0);
      state.ResumeTiming();
      const Clock::time_point start = Clock::now();
      work.Request(WM_WORK_LOGIN, 1);
      seconds = sink.WaitForListing(start, !firstSync);
      if (measure == Measure::kIdlePass && seconds >= 0) seconds = sink.TimeNextRun(work);
      state.PauseTiming();
      if (!firstSync) work.Request(WM_WORK_LOGOUT, 1);
      sink.WaitForLogout();
    }
    SetAppLogger(nullptr);
    state.ResumeTiming();
    if (seconds < 0) {
      state.SkipWithError("the run did not reach the end of its listing");
      break;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["entries"] = kFolders * (kFilesPerFolder + 1);
}

void BM_LoginToListedAccount_FirstSync(benchmark::State& state) { RunLogin(state, Measure::kFirstSync); }
void BM_LoginToListedAccount_Regular(benchmark::State& state) { RunLogin(state, Measure::kRegularLogin); }
void BM_PassWithNothingToDo(benchmark::State& state) { RunLogin(state, Measure::kIdlePass); }

BENCHMARK(BM_LoginToListedAccount_FirstSync)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoginToListedAccount_Regular)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PassWithNothingToDo)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
