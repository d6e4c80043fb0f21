// A full disk on either side, for real (a small tmpfs): the user is told so,
// naming the folder, and nothing is left half-written.
#include <filesystem>

#include "tests/e2e/engine/EngineFixture.h"
#include "tests/e2e/engine/TreeState.h"
#include "tests/support/SmallDisk.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

class DiskFullTest : public EngineE2ETest {
 protected:
  // vessa-sync once for alice on `root`; its exit code and output.
  int RunSync(const std::string& root, const std::string& authUrl, std::string& output) {
    return RunProgram(VESSA_SYNC_PROGRAM,
                      {"--root", root, "--user", "alice", "--host-name", "small-pc", "--auth-server", authUrl, "--once"},
                      &output, {"VESSA_PASSWORD=alice-pw"});
  }
};

TEST_F(DiskFullTest, AFullLocalDiskIsNamedAndLeavesNoPartialFile) {
  SmallDisk disk(Root("small"), 2 * kMiB);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a small tmpfs needs the privilege to mount";
  ServerUser alice(service_->AuthUrl(), "alice", "alice-pw");
  ASSERT_TRUE(alice.Ready());
  ASSERT_TRUE(alice.PutFile("/small.txt", "fits", ServerTime(1)));
  ASSERT_TRUE(alice.PutFile("/large.bin", TestBytes(3 * kMiB, 4), ServerTime(2)));

  std::string output;
  EXPECT_EQ(RunSync(disk.folder(), service_->AuthUrl(), output), 1) << output;
  const std::string told = "status: " + Local("磁盘空间不足，无法写入: ") + disk.folder();
  EXPECT_NE(output.find(told), std::string::npos) << output;
  EXPECT_NE(output.find("balloon: alice: " + Local("磁盘空间不足，无法写入: ") + disk.folder()), std::string::npos);
  const TreeState local = LocalTree(disk.folder() + "/alice");
  EXPECT_EQ(local, (TreeState{{"/small.txt", FileState("fits")}}));
}

TEST_F(DiskFullTest, AFullDiskAtTheServiceIsToldAsFullStorage) {
  SmallDisk disk(Root("service-disk"), 3 * kMiB);
  if (!disk.Mounted()) GTEST_SKIP() << "mounting a small tmpfs needs the privilege to mount";
  ServiceProcess service(disk.folder() + "/data");
  ASSERT_EQ(service.Admin({"adduser", "alice", "alice-pw"}), 0);
  ASSERT_TRUE(service.Start());
  std::string output;
  ASSERT_EQ(RunSync(Root("client"), service.AuthUrl(), output), 0) << output;
  WriteFile(Root("client") + "/alice/large.bin", TestBytes(6 * kMiB, 5));

  EXPECT_EQ(RunSync(Root("client"), service.AuthUrl(), output), 1) << output;
  EXPECT_NE(output.find("status: " + Local("服务器信息: 文件总容量超出最大限额")), std::string::npos) << output;
  service.Stop();
  const std::string log = ReadFile(disk.folder() + "/data/service.log");
  EXPECT_NE(log.find("reason 25"), std::string::npos);
  EXPECT_NE(log.find(disk.folder() + "/data/chunks"), std::string::npos);
  EXPECT_NE(log.find("No space left on device"), std::string::npos);
}

}  // namespace
