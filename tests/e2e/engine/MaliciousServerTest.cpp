// A back server whose listings name paths outside the user folder: "../"
// steps, absolute paths, "\" steps, share ids with steps. Nothing may be
// written outside the user folder; the safe entries still arrive.
#include <filesystem>

#include "foundation/Timing.h"
#include "foundation/Util.h"
#include "tests/e2e/engine/EngineFixture.h"
#include "tests/support/Md5Text.h"
#include "tests/support/ScriptedServer.h"
#include "tests/unit/protocol/SoapTestKit.h"

namespace {

namespace fs = std::filesystem;

// A file entry of download_all_file_rsp with its one chunk.
std::string AllFileEntry(const std::string& name, const std::string& content, const std::string& storageKey) {
  return "<file file_name=\"" + name + "\" modify_time=\"5\" dir=\"no\"><file_size>" +
         std::to_string(content.size()) + "</file_size><chunk_num>1</chunk_num><chunk MD5=\"" + Md5Text(content) +
         "\" storage_key=\"" + storageKey + "\" chunk_size=\"" + std::to_string(content.size()) + "\"/></file>";
}

// A file entry of file_list_rsp.
std::string ListFileEntry(const std::string& name, const std::string& content) {
  return "<file file_name=\"" + name + "\" modify_time=\"5\" dir_flag=\"no\" file_size=\"" +
         std::to_string(content.size()) + "\"><chunk_list chunk_num=\"1\">" + Md5Text(content) + "</chunk_list></file>";
}

class MaliciousServerTest : public testing::Test {
 protected:
  TempDir dir_;
  LogCapture log_;
};

TEST_F(MaliciousServerTest, ListedPathsLeavingTheUserFolderAreRefused) {
  const std::string good = "good";
  const std::string evil = "evil";
  const std::string outside = dir_ / "outside";
  fs::create_directories(outside);
  const std::vector<std::string> escapingAll = {
      "R/../escaped-up.txt",      "R/a/../../escaped-deep.txt", outside + "/escaped-absolute.txt",
      "R/..\\..\\escaped-back.txt", "R//escaped-empty.txt",     "R/./../escaped-dot.txt",
      "../escaped-root.txt",
  };
  std::string all = "<download_all_file_rsp><files><file file_name=\"R\" modify_time=\"1\" dir=\"yes\"/>";
  for (const std::string& name : escapingAll) all += AllFileEntry(name, evil, "S-EVIL");
  all += "<file file_name=\"R/../escaped-folder\" modify_time=\"1\" dir=\"yes\"/>";
  all += "<file file_name=\"R/../escaped-share\" modify_time=\"1\" dir=\"yes\" shared=\"yes\" folder_id=\"77\" "
         "owner_name=\"mallory\"/>";
  all += AllFileEntry("R/ok.txt", good, "S-OK") + "</files></download_all_file_rsp>";
  const std::vector<std::string> escapingList = {"R/../escaped-list.txt", "R/sub/../../escaped-list2.txt",
                                                 "77/../../escaped-share.txt"};
  std::string list = "<file_list_rsp compress=\"0\">" + ListFileEntry("R/ok.txt", good);
  for (const std::string& name : escapingList) list += ListFileEntry(name, evil);
  list += "</file_list_rsp>";

  ScriptedServer server;
  server.Push(SoapReply(Answer("obtain_host_id", "<obtain_host_id_rsp host_id=\"H1\"/>")));
  server.Push(SoapReply(Answer("login", "<login_rsp/>")));
  server.Push(SoapReply(Answer("download_all_file", all)));
  server.Push(SoapReply(Answer("download_chunk",
                               "<download_chunk_rsp MD5=\"" + Md5Text(good) +
                                   "\" storage_key=\"S-OK\"><content>Z29vZA==</content></download_chunk_rsp>",
                               " rsp_sequence=\"1\"")));
  server.Push(SoapReply(Answer("obtain_root_folder", "<obtain_root_folder_rsp root_folder=\"R\"/>")));
  server.Push(SoapReply(Answer("file_list", list)));
  server.SetFallback(Status(500, "nothing more"));

  Timing& timing = ProcessTiming();
  timing.heartbeatIntervalMs = 3600000;
  timing.systemMessageFirstMs = 3600000;
  timing.passPauseMs = 50;
  timing.watcherSleepMs = 20;
  TestEngine engine(dir_ / "root", "none", "alice", "pw");
  ASSERT_TRUE(engine.Started());
  CConfig& config = engine.work().GetConfig();
  config.Set(CConfig::kBackServer, server.Url("/axis2/services/vor_service_bs"));
  config.Set(CConfig::kTransmiterServer, server.Url("/axis2/services/vor_service_trs"));
  config.Set(CConfig::kHeartbeatServer, server.Url("/axis2/services/vor_service_hb"));
  ASSERT_EQ(engine.LogIn(), 1);
  EXPECT_EQ(engine.sink().WaitForRunEnd(1), 0);  // refusals make the run unfinished
  engine.Sync();                                 // the regular listing, unless the first run repeated its pass
  engine.LogOut();

  EXPECT_EQ(ReadFile(engine.Local("/ok.txt")), good);
  for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
    EXPECT_EQ(entry.path().filename().string().find("escaped"), std::string::npos) << entry.path();
  }
  for (const std::string& name : escapingAll) {
    EXPECT_TRUE(log_.Contains("Refuse server entry {" + name + "}")) << name;
  }
  for (const std::string& name : escapingList) {
    EXPECT_TRUE(log_.Contains("Refuse server entry {" + name + "}")) << name;
  }
  // Only the safe file's chunk was asked for.
  std::size_t chunkRequests = 0;
  for (const ReceivedRequest& request : server.Requests()) {
    chunkRequests += request.body.find("name=\"download_chunk\"") != std::string::npos;
  }
  EXPECT_EQ(chunkRequests, 1u);
}

}  // namespace
