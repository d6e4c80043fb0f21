#include "tests/e2e/scenarios/ScenarioFixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

std::unique_ptr<TestEngine> ScenarioBase::Client(const std::string& user, const std::string& password,
                                                 const std::string& name, const std::string& computer) {
  auto engine = Engine(user, password, name);
  engine->work().GetConfig().Set(CConfig::kHostName, computer);
  EXPECT_EQ(engine->LogIn(), 1);
  return engine;
}

void ScenarioBase::Settle(TestEngine& engine) {
  constexpr auto kQuiet = std::chrono::milliseconds(500);  // above the pause between passes
  for (int round = 0; round < 120; ++round) {
    const std::size_t runs = engine.sink().RunsStarted();
    std::this_thread::sleep_for(kQuiet);
    if (engine.sink().RunsStarted() == runs && engine.work().IsSyncEnabled()) return;
  }
  ADD_FAILURE() << "the engine kept running";
}

void ScenarioBase::ExpectSame(const TestEngine& engine, ServerUser& user) {
  EXPECT_EQ(LocalTree(engine.UserFolder()), ServiceTree(user, *service_)) << engine.UserFolder();
  const std::string cache = fs::path(engine.UserFolder()).parent_path().string() + "/.cache";
  EXPECT_TRUE(FilesBelow(cache).empty()) << cache;
}

std::size_t ScenarioBase::RequestsSince(std::size_t from, const std::string& operation) const {
  const std::string text = log_.Text();
  return LoggedRequests(from < text.size() ? text.substr(from) : "", {"name=\"" + operation + "\""});
}

bool ScenarioBase::WaitForLog(const std::string& fragment, std::size_t from, int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    const std::string text = log_.Text();
    if (text.size() > from && text.find(fragment, from) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::size_t ScenarioBase::StoredChunks() const {
  return FilesBelow(fs::path(service_->ChunkFile("")).parent_path().string()).size();
}

void ScenarioTest::SetUp() {
  EngineE2ETest::SetUp();
  a_ = Client("alice", "alice-pw", "a", "pc-a");
  b_ = Client("alice", "alice-pw", "b", "pc-b");
  alice_ = std::make_unique<ServerUser>(service_->AuthUrl(), "alice", "alice-pw");
  ASSERT_TRUE(alice_->Ready());
}

void ScenarioTest::TearDown() {
  a_.reset();
  b_.reset();
  EngineE2ETest::TearDown();
}

void ScenarioTest::SyncBoth() {
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  Settle(*b_);
  EXPECT_EQ(b_->Sync(), 2);
}

void ScenarioTest::ExpectAgreement() {
  ExpectSame(*a_, *alice_);
  ExpectSame(*b_, *alice_);
}

void WriteFileAt(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  WriteFile(path, content);
}
