// The upload dialogue's answers that the reference service never gives, with
// the back server and the transmitter played by a scripted HTTP server: a
// folder answered with a chunk request, a step nobody knows, a conflict to
// copy, a chunk to remove. None of them may record the entry as stored.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/Work.h"
#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Md5Text.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempDir.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

namespace fs = std::filesystem;

constexpr uintptr_t kWindow = 5;

ScriptedReply Back(const std::string& operation, const std::string& body) {
  return SoapReply(Answer(operation, body));
}
ScriptedReply Transmitter(const std::string& operation, const std::string& body, int sequence) {
  return SoapReply(Answer(operation, body, " rsp_sequence=\"" + std::to_string(sequence) + "\""));
}
std::string Step(const std::string& answer, const std::string& name, const std::string& op,
                 const std::string& chunk = "") {
  return "<" + answer + " file_name=\"" + name + "\"><next_op op=\"" + op + "\">" + chunk + "</next_op></" + answer +
         ">";
}
std::string Chunk(const std::string& key, const std::string& storageKey) {
  return "<MD5>" + key + "</MD5><storage_key>" + storageKey + "</storage_key>";
}
// A chunk key as the engine sends it: the login without an authentication
// server switches digests to upper case, and the transmitter's answers must
// echo the key exactly.
std::string Md5(const std::string& bytes) {
  std::string key = Md5Text(bytes);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

class UploadDialogueTest : public testing::Test {
 protected:
  void SetUp() override {
    Timing& timing = ProcessTiming();
    timing.heartbeatIntervalMs = 3600000;
    timing.systemMessageFirstMs = 3600000;
    timing.passPauseMs = 20;
    timing.watcherSleepMs = 20;
    ASSERT_TRUE(CUtil::WriteRootPath(root_.path()));
    work_ = std::make_unique<CWork>(sink_, sink_);
    ASSERT_EQ(work_->Init(), 1);
    CConfig& config = work_->GetConfig();
    config.Set(CConfig::kAuthServer, "none");
    config.Set(CConfig::kBackServer, server_.Url("/axis2/services/vor_service_bs"));
    config.Set(CConfig::kTransmiterServer, server_.Url("/axis2/services/vor_service_trs"));
    config.Set(CConfig::kHeartbeatServer, server_.Url("/axis2/services/vor_service_hb"));
    config.Set(CConfig::kHostName, "pc");
    config.Set(CConfig::kHostId, "H1");
    work_->SetUser("alice", "secret");
    fs::create_directories(root_ / "alice");
  }

  // Logs in; the run that follows lists an empty service and then meets the
  // local entries with `answers`. The run's final tray state.
  int RunWith(const std::vector<ScriptedReply>& answers) {
    server_.Push(Back("login", "<login_rsp/>"));
    server_.Push(Back("obtain_root_folder", "<obtain_root_folder_rsp root_folder=\"R\"/>"));
    server_.Push(Back("file_list", "<file_list_rsp compress=\"0\"/>"));
    for (const ScriptedReply& answer : answers) server_.Push(answer);
    if (work_->Request(WM_WORK_LOGIN, kWindow) != 1 || sink_.WaitForPost(kWindow, WM_WORK_LOGIN_DONE) != 1) return -1;
    return sink_.WaitForRunEnd(1);
  }
  // The operation names of the requests after the login and the listing.
  std::vector<std::string> LaterOperations() const {
    std::vector<std::string> names;
    const std::vector<ReceivedRequest> requests = server_.Requests();
    for (std::size_t i = 3; i < requests.size(); ++i) {
      const CapturedPayload captured = DecodeRequest(requests[i]);
      names.push_back(captured.payload.attribute("name").value());
    }
    return names;
  }

  TempDir root_;
  LogCapture log_;
  ScriptedServer server_;
  RecordingSink sink_;
  std::unique_ptr<CWork> work_;
};

TEST_F(UploadDialogueTest, AFolderAnsweredWithAChunkRequestIsNotRecorded) {
  fs::create_directories(root_ / "alice/d");
  EXPECT_EQ(RunWith({Back("upload_file", Step("upload_file_rsp", "R/d", "upload_chunk", Chunk(Md5("x"), "S1")))}), 0);
  EXPECT_TRUE(log_.Contains("Fail to upload a folder {/d}: upload_chunk"));
  EXPECT_EQ(LaterOperations(), std::vector<std::string>{"upload_file"});
  EXPECT_NE(work_->GetMark("/d"), 1);
}

TEST_F(UploadDialogueTest, AnUnknownStepEndsTheFileUnstored) {
  WriteFile(root_ / "alice/a.txt", "a");
  EXPECT_EQ(RunWith({Back("upload_file", Step("upload_file_rsp", "R/a.txt", "take_a_break"))}), 0);
  EXPECT_TRUE(log_.Contains("<fatal>[CWork::CheckLocalAdd]: Fail to get a valid ack: take_a_break"));
  EXPECT_EQ(LaterOperations(), std::vector<std::string>{"upload_file"});
  EXPECT_EQ(ReadFile(root_ / "alice/a.txt"), "a");
}

TEST_F(UploadDialogueTest, ACopyConflictSetsTheLocalFileAside) {
  WriteFile(root_ / "alice/a.txt", "mine");
  // The pass that follows for the copy finds no service any more.
  RunWith({Back("upload_file", Step("upload_file_rsp", "R/a.txt", "copy_conflic_file"))});
  EXPECT_TRUE(log_.Contains("<warn >[CWork::CheckLocalAdd]: !!!Copy a conflict file"));
  EXPECT_FALSE(fs::exists(root_ / "alice/a.txt"));
  std::vector<std::string> copies;
  for (const auto& entry : fs::directory_iterator(root_ / "alice")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("a.txt.conflict(", 0) == 0) copies.push_back(ReadFile(entry.path().string()));
  }
  EXPECT_EQ(copies, std::vector<std::string>{"mine"});
}

TEST_F(UploadDialogueTest, AChunkToRemoveIsRemovedAndTheFileStaysUnstored) {
  WriteFile(root_ / "alice/a.txt", "content");
  const std::string key = Md5("content");
  const std::string other = Md5("other");
  EXPECT_EQ(RunWith({
                Back("upload_file", Step("upload_file_rsp", "R/a.txt", "upload_chunk", Chunk(key, "S1"))),
                Transmitter("upload_chunk", "<upload_chunk_rsp MD5=\"" + key + "\" storage_key=\"S1\"/>", 1),
                Back("chunk_uploaded", Step("chunk_uploaded_rsp", "R/a.txt", "remove_chunk", Chunk(other, "S9"))),
                Transmitter("remove_chunk", "<remove_chunk_rsp MD5=\"" + other + "\" storage_key=\"S9\"/>", 2),
            }),
            0);
  EXPECT_EQ(LaterOperations(),
            (std::vector<std::string>{"upload_file", "upload_chunk", "chunk_uploaded", "remove_chunk"}));
  EXPECT_TRUE(log_.Contains("Remove a chunk"));
  EXPECT_FALSE(log_.Contains("Upload a file {/a.txt)"));
}

}  // namespace
