// What travels for large files: an upload cut short goes on with the chunks
// the service still lacks, and a small change of a large file travels as a
// delta against the version the service has.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/e2e/scenarios/ScenarioFixture.h"

namespace {

constexpr std::size_t kDeltaLimit = 64 * 1024;
// What one chunk request adds to its bytes: the SOAP envelope and the
// multipart frame.
constexpr long long kRequestOverhead = 4096;

TEST_F(ScenarioTest, AnUploadCutByALogoutGoesOnWithOnlyTheMissingChunks) {
  const std::size_t size = kLargeFileMiB * kMiB;
  const long long chunks = static_cast<long long>(size / kChunkSize);
  WriteFileAt(Root("outside") + "/large.bin", TestBytes(size, 7));
  const long long requests = service_->Counter("transmitter_requests");
  const long long bytes = service_->Counter("transmitter_bytes_received");
  const std::size_t stored = StoredChunks();
  // The file is saved into the folder (the watcher's run sends it), and
  // half way through the upload the user logs out.
  constexpr uintptr_t kLogoutWindow = 7;
  std::atomic<bool> asked{false};
  std::thread user([&] {
    for (int i = 0; i < 600000 && !asked; ++i) {
      if (StoredChunks() - stored >= static_cast<std::size_t>(chunks / 2)) {
        asked = a_->work().Request(WM_WORK_LOGOUT, kLogoutWindow) == 1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::filesystem::rename(Root("outside") + "/large.bin", a_->Local("/large.bin"));
  EXPECT_EQ(a_->sink().WaitForPost(kLogoutWindow, WM_WORK_LOGOUT_DONE, 120000), 0);
  user.join();
  ASSERT_TRUE(asked);
  const long long sentBefore = service_->Counter("transmitter_requests") - requests;
  EXPECT_GE(sentBefore, chunks / 2);
  EXPECT_LT(sentBefore, chunks);
  EXPECT_EQ(ServiceTree(*alice_, *service_).count("/large.bin"), 0u);
  EXPECT_TRUE(log_.Contains("User request logout"));

  ASSERT_EQ(a_->LogIn(), 1);
  EXPECT_EQ(a_->sink().WaitForRunEnd(a_->sink().RunsStarted()), 2);
  // Every chunk travelled once, the ones stored before the logout never again.
  EXPECT_EQ(service_->Counter("transmitter_requests") - requests, chunks);
  EXPECT_LE(service_->Counter("transmitter_bytes_received") - bytes,
            static_cast<long long>(size) + chunks * kRequestOverhead);
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
}

TEST_F(ScenarioTest, OneByteChangedInALargeFileTravelsAsASmallDelta) {
  const std::size_t size = 40 * kMiB;
  WriteFileAt(a_->Local("/forty.bin"), TestBytes(size, 8));
  SyncBoth();

  const long long bytes = service_->Counter("transmitter_bytes_received");
  const std::size_t from = LogSize();
  {
    std::fstream file(a_->Local("/forty.bin"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(size / 2 + 12345));
    const char changed = 0x5A;
    file.write(&changed, 1);
  }
  Settle(*a_);
  EXPECT_EQ(a_->Sync(), 2);
  EXPECT_LT(service_->Counter("transmitter_bytes_received") - bytes, static_cast<long long>(kDeltaLimit));
  EXPECT_EQ(RequestsSince(from, "upload_chunk"), 1u);
  EXPECT_EQ(LoggedRequests(log_.Text().substr(from), {"name=\"upload_chunk\"", "delta_flag=\"yes\""}), 1u);
  EXPECT_EQ(b_->Sync(), 2);
  ExpectAgreement();
}

}  // namespace
