#pragma once
// Computers of users against the real vessa-service, each an engine on its
// own root folder. A scenario changes one side, runs the engines, and then
// the user folders and the service must hold the same entries with the same
// bytes, with nothing temporary left behind.
#include <memory>
#include <string>

#include "tests/e2e/engine/EngineFixture.h"
#include "tests/e2e/engine/TreeState.h"

// Sizes of the large-file scenarios; the sanitizer build, about three times
// slower, moves less data through the same paths.
#ifdef VESSA_SANITIZED_BUILD
constexpr std::size_t kLargeFileMiB = 64;
#else
constexpr std::size_t kLargeFileMiB = 200;
#endif
constexpr std::size_t kMiB = 1024 * 1024;

class ScenarioBase : public EngineE2ETest {
 protected:
  // An engine for `user` on the root folder `name`, its computer called
  // `computer`, logged in and through its first run.
  std::unique_ptr<TestEngine> Client(const std::string& user, const std::string& password, const std::string& name,
                                     const std::string& computer);
  // Waits until the engine is idle and stays so: every change its watcher
  // reported has had its run (a change made while idle asks for a run per
  // report, so several runs may follow one another).
  void Settle(TestEngine& engine);
  // The engine's user folder holds what the service holds for `user`, and
  // no temporary file or cached chunk is left.
  void ExpectSame(const TestEngine& engine, ServerUser& user);
  // Requests of the operation (e.g. "remove") the engines logged after
  // `from` (a length of the log text).
  std::size_t RequestsSince(std::size_t from, const std::string& operation) const;
  std::size_t LogSize() const { return log_.Text().size(); }
  // Waits for the log to hold `fragment` after `from`.
  bool WaitForLog(const std::string& fragment, std::size_t from, int timeoutMs = 30000) const;
  // Chunk files the service stores.
  std::size_t StoredChunks() const;
};

// Two computers of alice: A and B.
class ScenarioTest : public ScenarioBase {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One run of A, then one of B; each must finish, and both then settle.
  void SyncBoth();
  // Both user folders hold what the service holds.
  void ExpectAgreement();

  std::unique_ptr<ServerUser> alice_;  // reads the service's state
  std::unique_ptr<TestEngine> a_;
  std::unique_ptr<TestEngine> b_;
};

// Creates the folders on the way.
void WriteFileAt(const std::string& path, const std::string& content);
