// vessa-sync run as a user runs it, against the real service.
#include <signal.h>

#include <filesystem>

#include "foundation/Util.h"
#include "store/FileJournal.h"
#include "tests/e2e/engine/TreeState.h"
#include "tests/e2e/engine/EngineFixture.h"

namespace {

namespace fs = std::filesystem;

class SyncProgramTest : public EngineE2ETest {
 protected:
  // vessa-sync with the password in the environment; its exit code and output.
  int RunSync(std::vector<std::string> args, const std::string& password, std::string& output) {
    return RunProgram(VESSA_SYNC_PROGRAM, args, &output, {"VESSA_PASSWORD=" + password});
  }
  std::vector<std::string> Args(const std::string& user, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--root", Root("cli"), "--user", user, "--host-name", "cli-pc",
                                     "--auth-server", service_->AuthUrl()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};

TEST_F(SyncProgramTest, OneRunThenTheExitStatusTellsHowItEnded) {
  ServerUser alice(service_->AuthUrl(), "alice", "alice-pw");
  ASSERT_TRUE(alice.Ready());
  ASSERT_TRUE(alice.PutFile("/hello.txt", "hello from the service", ServerTime(1)));
  ASSERT_TRUE(alice.PutFile("/split.bin", TestBytes(5 * 1024 * 1024, 9), ServerTime(2)));

  std::string output;
  ASSERT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 0) << output;
  EXPECT_EQ(ReadFile(Root("cli") + "/alice/hello.txt"), "hello from the service");
  for (const char* line : {"message: Connecting Auth...\n", "icon: logged in alice\n", "tray: 1 alice\n",
                           "tray: 2 alice\n", "message: Sync finished\n", "icon: logged out\n"}) {
    EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  }
  EXPECT_NE(output.find("status: " + Local("下载新文件: ") + "/hello.txt\n"), std::string::npos);
  std::string root;
  ASSERT_TRUE(CUtil::ReadRootPath(root));
  EXPECT_EQ(root, Root("cli"));

  // A chunk the transmitter lacks: the run ends unfinished.
  ASSERT_TRUE(alice.PutFile("/later.bin", TestBytes(1000, 10), ServerTime(3)));
  const std::string chunk = service_->ChunkFile(alice.Describe(alice.ServerPath("/later.bin")).chunks[0].storageId);
  fs::rename(chunk, chunk + ".away");
  EXPECT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 1) << output;
  EXPECT_NE(output.find("tray: 0 alice\n"), std::string::npos) << output;
  fs::rename(chunk + ".away", chunk);
  // The remembered login serves without the password given again.
  EXPECT_EQ(RunProgram(VESSA_SYNC_PROGRAM, {"--once"}, &output), 0) << output;
  EXPECT_EQ(ReadFile(Root("cli") + "/alice/later.bin"), TestBytes(1000, 10));
}

TEST_F(SyncProgramTest, AnotherUserNeedsConsentAndAFailedLoginExitsWithTwo) {
  ASSERT_EQ(service_->Admin({"adduser", "bob", "bob-pw"}), 0);
  std::string output;
  ASSERT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 0) << output;

  const std::string question = "question: " + Local("更换用户？ 原用户数据将不再被自动同步到服务器...");
  EXPECT_EQ(RunSync(Args("bob", {"--once"}), "bob-pw", output), 2) << output;
  EXPECT_NE(output.find(question + " -> Cancel\n"), std::string::npos) << output;
  EXPECT_FALSE(Exists(Root("cli") + "/bob"));

  EXPECT_EQ(RunSync(Args("bob", {"--once", "--yes"}), "bob-pw", output), 0) << output;
  EXPECT_NE(output.find(question + " -> OK\n"), std::string::npos) << output;
  EXPECT_TRUE(fs::is_directory(Root("cli") + "/bob"));

  EXPECT_EQ(RunSync(Args("bob", {"--once"}), "not bob's", output), 2) << output;
  EXPECT_NE(output.find("status: " + Local(" 认证失败 ") + "\n"), std::string::npos) << output;
  EXPECT_EQ(RunProgram(VESSA_SYNC_PROGRAM, {"--log-level", "9"}, &output), 3) << output;
  EXPECT_EQ(RunProgram(VESSA_SYNC_PROGRAM, {"--help"}, &output), 0) << output;
  EXPECT_EQ(output.rfind("usage: vessa-sync", 0), 0u) << output;
}

TEST_F(SyncProgramTest, RemovingEverythingIsDeclinedUnlessYesIsGiven) {
  ServerUser alice(service_->AuthUrl(), "alice", "alice-pw");
  ASSERT_TRUE(alice.Ready());
  ASSERT_TRUE(alice.PutFile("/one.txt", "one", ServerTime(1)));
  ASSERT_TRUE(alice.PutFile("/two.txt", "two", ServerTime(2)));
  std::string output;
  ASSERT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 0) << output;
  fs::remove(Root("cli") + "/alice/one.txt");
  fs::remove(Root("cli") + "/alice/two.txt");

  const std::string question = "question: " + Local("本地已删除 2 个文件和文件夹（共 2 个已同步），继续同步将同时删除服务器上的这些文件。确定删除吗？");
  EXPECT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 1) << output;
  EXPECT_NE(output.find(question + " -> Cancel\n"), std::string::npos) << output;
  EXPECT_EQ(alice.List().size(), 2u);

  EXPECT_EQ(RunSync(Args("alice", {"--once", "--yes"}), "alice-pw", output), 0) << output;
  EXPECT_NE(output.find(question + " -> OK\n"), std::string::npos) << output;
  EXPECT_TRUE(alice.List().empty());
}

// Names the service cannot store keep being tried, but each is named to the
// user once, and the run reads "synced except N entries" instead of failing.
TEST_F(SyncProgramTest, EntriesTheServiceRefusesAreNamedOnceAndTheRestFinishes) {
  std::string output;
  ASSERT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 0) << output;
  const std::string folder = Root("cli") + "/alice";
  WriteFile(folder + "/good.txt", "good");
  WriteFile(folder + "/back\\slash.txt", "b");
  WriteFile(folder + "/line\nbreak.txt", "n");
  std::string longPath = folder;
  for (int level = 0; level < 11; ++level) longPath += "/" + std::string(200, static_cast<char>('a' + level));
  fs::create_directories(longPath);
  WriteFile(longPath + "/far.txt", "far");
  std::string deepPath = folder;
  for (int level = 0; level < 34; ++level) deepPath += "/d";
  fs::create_directories(deepPath);
  WriteFile(deepPath + "/deep.txt", "deep");

  ASSERT_EQ(RunSync(Args("alice", {"--once"}), "alice-pw", output), 0) << output;
  const std::string deepFolder = deepPath.substr(folder.size(), 2 * 32);  // the 32nd level: its content is left out
  const std::vector<std::string> named = {
      "/back\\slash.txt" + Local("（名称中含有反斜杠“\\”）"),
      "/line?break.txt" + Local("（名称中含有控制字符（如换行））"),
      longPath.substr(folder.size(), 11 * 201) + Local("（路径长度超过 2048 字节）"),  // its file goes with it
      deepFolder + Local("（文件夹层次超过 32 层，其中的内容未同步）"),
  };
  for (const std::string& entry : named) {
    const std::string line = "balloon: alice: " + Local("无法同步: ") + entry + "\n";
    EXPECT_NE(output.find(line), std::string::npos) << line << output;
    EXPECT_EQ(output.find(line), output.rfind(line)) << "named more than once: " << line;
  }
  EXPECT_NE(output.find("tray: 2 alice - " + Local("已同步，4 个项目除外") + "\n"), std::string::npos) << output;
  EXPECT_EQ(output.find(Local("服务器信息")), std::string::npos) << output;
  ServerUser alice(service_->AuthUrl(), "alice", "alice-pw");
  ASSERT_TRUE(alice.Ready());
  EXPECT_EQ(alice.List().count(CFileJournal::ToKey(alice.ServerPath("/good.txt"))), 1u);
  std::string log;
  for (const std::string& file : FilesBelow(Root("cli") + "/.log")) log += ReadFile(file);
  EXPECT_NE(log.find("Fail to upload a file {/back\\slash.txt}"), std::string::npos);
  EXPECT_NE(log.find("Leave {/line?break.txt} out of the synchronisation: its name holds a control character"),
            std::string::npos);
  EXPECT_NE(log.find("out of the synchronisation: its content lies deeper than 32 folder levels"), std::string::npos);

  for (std::size_t at = 0; (at = output.find('\n', at)) != std::string::npos; ++at) {
    EXPECT_NE(output.compare(at + 1, 5, "break"), 0) << "a notice broke its line";
  }
}

TEST_F(SyncProgramTest, WithoutOnceItRunsUntilASignalThenLogsOut) {
  ChildProgram sync;
  ASSERT_TRUE(sync.Start(VESSA_SYNC_PROGRAM, Args("alice"), {"VESSA_PASSWORD=alice-pw"}));
  ASSERT_TRUE(sync.WaitForOutput("tray: 2 alice\n")) << sync.Output();
  sync.Signal(SIGINT);
  EXPECT_EQ(sync.Wait(), 0) << sync.Output();
  EXPECT_NE(sync.Output().find("icon: logged out\n"), std::string::npos) << sync.Output();
}

}  // namespace
