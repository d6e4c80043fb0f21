#include "tests/e2e/engine/EngineFixture.h"

#include <sys/stat.h>

#include <filesystem>

#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "platform/FileTime.h"

namespace fs = std::filesystem;

TestEngine::TestEngine(const std::string& root, const std::string& authUrl, const std::string& user,
                       const std::string& password)
    : root_(root), user_(user) {
  fs::create_directories(root);
  if (!CUtil::WriteRootPath(root)) return;
  work_ = std::make_unique<CWork>(sink_, sink_);
  if (!work_->Init()) return;
  CConfig& config = work_->GetConfig();
  config.Set(CConfig::kAuthServer, authUrl);
  config.Set(CConfig::kHostName, "test-pc");
  config.Set(CConfig::kLoginUser, user);
  config.Set(CConfig::kLoginPasswd, password);
  work_->SetUser(user, password);
  work_->SetFirstSync(1);
  started_ = true;
}

TestEngine::~TestEngine() { work_.reset(); }

int TestEngine::LogIn() {
  const std::size_t runs = sink_.RunsStarted();
  const std::size_t answers = sink_.CountPosts(kWindow, WM_WORK_LOGIN_DONE);
  if (!work_->Request(WM_WORK_LOGIN, kWindow)) return 0;
  const long done = sink_.WaitForPost(kWindow, WM_WORK_LOGIN_DONE, 30000, answers);
  if (done == 1) sink_.WaitForRunEnd(runs + 1);
  return static_cast<int>(done);
}

int TestEngine::Sync() {
  const std::size_t runs = sink_.RunsStarted();
  if (!work_->Request(WM_WORK_SYNC, 0)) return -1;
  return sink_.WaitForRunEnd(runs + 1);
}

bool TestEngine::LogOut() {
  const std::size_t answers = sink_.CountPosts(kWindow, WM_WORK_LOGOUT_DONE);
  if (!work_->Request(WM_WORK_LOGOUT, kWindow)) return false;
  return sink_.WaitForPost(kWindow, WM_WORK_LOGOUT_DONE, 30000, answers) == 0;
}

void EngineE2ETest::SetUp() {
  Timing& timing = ProcessTiming();
  timing.heartbeatIntervalMs = 3600000;
  timing.systemMessageFirstMs = 3600000;
  timing.systemMessageRetryMs = 3600000;
  timing.systemMessageGapMs = 10;
  timing.authRetryMs = 50;
  // Long enough that the watcher's report of a pass's own writes arrives
  // within the pause and repeats the pass inside the same run.
  timing.passPauseMs = 300;
  timing.watcherSleepMs = 20;
  CUtil::SetDigestUpperCase(0);
  service_ = std::make_unique<ServiceProcess>(dir_ / "service");
  ASSERT_TRUE(service_->Start());
  ASSERT_EQ(service_->Admin({"adduser", "alice", "alice-pw"}), 0);
}

void EngineE2ETest::TearDown() { service_.reset(); }

std::unique_ptr<TestEngine> EngineE2ETest::Engine(const std::string& user, const std::string& password,
                                                  const std::string& name) {
  auto engine = std::make_unique<TestEngine>(Root(name), service_->AuthUrl(), user, password);
  EXPECT_TRUE(engine->Started());
  return engine;
}

int64_t LocalTime(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(ToFileTime(st.st_mtim));
}

bool Exists(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) names.push_back(name);
  }
  return names;
}

std::string Local(const char* utf8) {
  std::string text = utf8;
  CUtil::Utf8ToAnsi(text);
  return text;
}

std::size_t LoggedRequests(const std::string& log, const std::vector<std::string>& fragments) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    bool all = line.find("request:") != std::string::npos;
    for (const std::string& fragment : fragments) all = all && line.find(fragment) != std::string::npos;
    if (all) ++count;
    start = end + 1;
  }
  return count;
}

std::size_t ChunkRequests(const std::string& log, const std::string& storageKey) {
  return LoggedRequests(log, {"name=\"download_chunk\"", "storage_key=\"" + storageKey + "\""});
}
