#pragma once
// End-to-end set-up: the real vessa-service in a temporary data folder and
// engines on real temporary root folders, each with a recording user
// interface. Waits are shortened; the heartbeat and the system messages are
// off unless a test turns them on.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/Work.h"
#include "tests/e2e/engine/ServerUser.h"
#include "tests/e2e/engine/ServiceProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/TempDir.h"

// One engine on its own root folder.
class TestEngine {
 public:
  static constexpr uintptr_t kWindow = 1;

  // Writes `root` as the registry's root folder and starts the engine with
  // the login the login dialog would hand it (a new user: first sync).
  TestEngine(const std::string& root, const std::string& authUrl, const std::string& user,
             const std::string& password);
  ~TestEngine();

  bool Started() const { return started_; }
  // Logs in; the login's answer (1/0), and with 1 the end of the run it queued.
  int LogIn();
  // Asks for a run and waits for one that began after the request: its final
  // tray state (2 finished, 0 unfinished, -1 none).
  int Sync();
  // Logs out and waits for the answer.
  bool LogOut();

  std::string UserFolder() const { return root_ + "/" + user_; }
  std::string Local(const std::string& rel) const { return UserFolder() + rel; }
  CWork& work() { return *work_; }
  RecordingSink& sink() { return sink_; }

 private:
  std::string root_;
  std::string user_;
  RecordingSink sink_;
  std::unique_ptr<CWork> work_;
  bool started_ = false;
};

class EngineE2ETest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An engine for `user` on the root folder "<temp>/<name>".
  std::unique_ptr<TestEngine> Engine(const std::string& user, const std::string& password,
                                     const std::string& name = "root");
  std::string Root(const std::string& name = "root") const { return dir_ / name; }

  TempDir dir_;
  LogCapture log_;
  std::unique_ptr<ServiceProcess> service_;
};

// The file's bytes, its modify time as FILETIME ticks (0 when missing).
int64_t LocalTime(const std::string& path);
bool Exists(const std::string& path);
// Names in `folder` that begin with `prefix`.
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix);
// The UTF-8 text in the local code page.
std::string Local(const char* utf8);
// How many requests the log records whose line holds every fragment.
std::size_t LoggedRequests(const std::string& log, const std::vector<std::string>& fragments);
// How many download_chunk requests for `storageKey` the log records.
std::size_t ChunkRequests(const std::string& log, const std::string& storageKey);
