// Files through the upload dialogue, the listings and the transmitter:
// multi-chunk uploads, plain and compressed listings, downloads, deltas,
// conflicts and content that does not match its key.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <thread>

#include "foundation/Util.h"
#include "protocol/HttpTransport.h"
#include "protocol/SoapFrame.h"
#include "tests/support/LogCapture.h"
#include "tests/unit/service/ServiceFixture.h"

namespace {

constexpr size_t kThreeChunks = 2 * 4194304 + 1000;

class ServiceTransferTest : public ServiceFixture {
 protected:
  void SetUp() override {
    ServiceFixture::SetUp();
    AddUser("ann", "s3cret");
    ann_ = Connect("ann", "s3cret");
    ASSERT_EQ(Upload(*ann_, DescribeFolder("ann/docs")), "all_chunk_exist");
  }

  // The file's bytes fetched chunk by chunk from the transmitter.
  std::string Fetch(ServiceClient& client, const CFileInfo& file) {
    std::string bytes;
    for (const CChunkInfo& chunk : file.chunks) {
      CChunkBuffer buffer(0);
      std::string result;
      EXPECT_EQ(client.transmitter.DownloadChunk(chunk, result, buffer), 1) << client.transmitter.GetReason();
      bytes.append(reinterpret_cast<const char*>(buffer.data()), buffer.length());
    }
    return bytes;
  }

  std::unique_ptr<ServiceClient> ann_;
};

TEST_F(ServiceTransferTest, MultiChunkFileGoesUpChunkByChunkAndComesBackWhole) {
  const std::string content = TestBytes(kThreeChunks, 1);
  const ClientFile file = DescribeFile("ann/docs/big.bin", content, 777);
  ASSERT_EQ(file.info.chunks.size(), 3u);
  int sent = 0;
  EXPECT_EQ(Upload(*ann_, file, nullptr, false, &sent), "all_chunk_exist");
  EXPECT_EQ(sent, 3);

  const CFileInfo stored = Describe(*ann_, "ann/docs/big.bin");
  EXPECT_EQ(stored.path, "ann/docs/big.bin");
  EXPECT_EQ(stored.size, static_cast<int64_t>(kThreeChunks));
  EXPECT_EQ(stored.mtime, 777);
  EXPECT_EQ(stored.chunkList, file.info.chunkList);
  for (const CChunkInfo& chunk : stored.chunks) {
    ASSERT_EQ(chunk.storageId.size(), 32u);
    const std::string kept = StoredChunk(chunk.storageId);
    std::string md5;
    CUtil::Md5Hex(kept.data(), kept.size(), md5);
    EXPECT_EQ(md5, chunk.key) << "the chunk file holds the verified bytes";
  }
  EXPECT_EQ(Fetch(*ann_, stored), content);

  // The same content under another name needs no chunk at all, even named
  // in upper case (as a client without an authentication server does).
  CUtil::SetDigestUpperCase(1);
  const ClientFile copy = DescribeFile("ann/copy.bin", content);
  CUtil::SetDigestUpperCase(0);
  ASSERT_NE(copy.info.chunkList, file.info.chunkList);
  sent = 0;
  EXPECT_EQ(Upload(*ann_, copy, nullptr, false, &sent), "all_chunk_exist");
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(List(*ann_, "ann").at("ann/copy.bin").chunkList, copy.info.chunkList) << "listed as it was sent";
}

TEST_F(ServiceTransferTest, ListingsPlainCompressedAndWhole) {
  ASSERT_EQ(Upload(*ann_, DescribeFile("ann/docs/a.txt", "alpha")), "all_chunk_exist");
  ASSERT_EQ(Upload(*ann_, DescribeFile("ann/docs/Empty", "")), "all_chunk_exist");
  ASSERT_EQ(Upload(*ann_, DescribeFile("ann/b & <c>.txt", TestBytes(5000, 2))), "all_chunk_exist");

  const CBack::FileMap plain = List(*ann_, "ann");
  ASSERT_EQ(plain.size(), 4u);
  EXPECT_EQ(plain.at("ann/docs").dir, 1);
  EXPECT_EQ(plain.at("ann/docs/a.txt").size, 5);
  EXPECT_EQ(plain.at("ann/docs/a.txt").chunkList, DescribeFile("", "alpha").info.chunkList);
  EXPECT_EQ(plain.at("ann/docs/empty").path, "ann/docs/Empty");
  EXPECT_EQ(plain.at("ann/docs/empty").chunkCount, 0);
  EXPECT_EQ(plain.at("ann/b & <c>.txt").size, 5000);
  EXPECT_EQ(List(*ann_, "ann/docs").size(), 2u) << "a folder lists what lies below it";

  ServiceOptions options = Options();
  options.compressThreshold = 2;
  Restart(options);
  ann_ = Connect("ann", "s3cret");
  LogCapture log;
  const CBack::FileMap compressed = List(*ann_, "ann");
  EXPECT_TRUE(log.Contains("<file_list_rsp compress=\"")) << "four entries above threshold 2 travel compressed";
  ASSERT_EQ(compressed.size(), plain.size());
  for (const auto& [key, entry] : plain) {
    ASSERT_EQ(compressed.count(key), 1u) << key;
    EXPECT_EQ(compressed.at(key).path, entry.path);
    EXPECT_EQ(compressed.at(key).chunkList, entry.chunkList);
    EXPECT_EQ(compressed.at(key).size, entry.size);
  }
  EXPECT_EQ(List(*ann_, "ann/docs").size(), 2u) << "two entries stay plain at threshold 2";

  std::vector<CFileInfo> whole;
  std::string result;
  ASSERT_EQ(ann_->back.DownloadAll(result, whole), 1);
  ASSERT_EQ(whole.size(), 5u);
  EXPECT_EQ(whole[0].path, "ann") << "the root folder comes first";
  EXPECT_EQ(whole[0].dir, 1);
  for (const CFileInfo& entry : whole) {
    if (entry.dir == 0 && entry.size > 0) {
      EXPECT_EQ(entry.chunks.at(0).storageId.size(), 32u) << entry.path;
    }
  }
}

TEST_F(ServiceTransferTest, OneChangedByteTravelsAsASmallDelta) {
  std::string content = TestBytes(kThreeChunks, 3);
  const ClientFile first = DescribeFile("ann/docs/big.bin", content);
  ASSERT_EQ(Upload(*ann_, first), "all_chunk_exist");
  // The old version as the client keeps it: block lists plus the storage keys.
  ClientFile old = DescribeFile("ann/docs/big.bin", content);
  const CFileInfo stored = Describe(*ann_, "ann/docs/big.bin");
  for (size_t i = 0; i < old.info.chunks.size(); ++i) old.info.chunks[i].storageId = stored.chunks[i].storageId;
  ASSERT_EQ(old.info.BuildSignature(), 1);

  content[4194304 + 1234] ^= 0x5a;
  const ClientFile changed = DescribeFile("ann/docs/big.bin", content, 200);
  const long long before = Counter("transmitter_bytes_received");
  int sent = 0;
  EXPECT_EQ(Upload(*ann_, changed, &old.info, true, &sent), "all_chunk_exist");
  EXPECT_EQ(sent, 1) << "only the changed chunk travels";
  EXPECT_LT(Counter("transmitter_bytes_received") - before, 64 * 1024);

  const CFileInfo now = Describe(*ann_, "ann/docs/big.bin");
  EXPECT_EQ(now.chunkList, changed.info.chunkList);
  const std::string rebuilt = StoredChunk(now.chunks[1].storageId);
  std::string md5;
  CUtil::Md5Hex(rebuilt.data(), rebuilt.size(), md5);
  EXPECT_EQ(md5, changed.info.chunks[1].key);
  EXPECT_EQ(Fetch(*ann_, now), content);
  EXPECT_TRUE(StoredChunk(stored.chunks[1].storageId).empty()) << "the replaced chunk is gone";
}

TEST_F(ServiceTransferTest, ConflictsMoveTheClientsFileAside) {
  const ClientFile v1 = DescribeFile("ann/docs/a.txt", "version one");
  ASSERT_EQ(Upload(*ann_, v1), "all_chunk_exist");
  const ClientFile v2 = DescribeFile("ann/docs/a.txt", "version two");
  ASSERT_EQ(Upload(*ann_, v2, &v1.info), "all_chunk_exist");

  const ClientFile v3 = DescribeFile("ann/docs/a.txt", "version three");
  EXPECT_EQ(Upload(*ann_, v3, &v1.info), "move_conflic_file") << "started from a version that is gone";
  EXPECT_EQ(Upload(*ann_, v3), "move_conflic_file") << "a new file meets other content";
  EXPECT_EQ(Upload(*ann_, DescribeFile("ann/docs", "x")), "move_conflic_file") << "a folder is there";
  EXPECT_EQ(Upload(*ann_, v2), "all_chunk_exist") << "a new file with the same content";
  EXPECT_EQ(Upload(*ann_, DescribeFile("ann/missing/a.txt", "x")), "failed");
  EXPECT_EQ(ann_->back.GetLastReason(), "20");
  EXPECT_EQ(Describe(*ann_, "ann/docs/a.txt").chunkList, v2.info.chunkList);
}

TEST_F(ServiceTransferTest, ContentThatIsNotItsKeyIsRefused) {
  // A small chunk is checked before it is written, a full one while it is.
  for (const size_t size : {size_t{14}, size_t{4194304}}) {
    SCOPED_TRACE(size);
    const std::string path = "ann/docs/" + std::to_string(size) + ".bin";
    const ClientFile file = DescribeFile(path, TestBytes(size, 2));
    std::string op, result;
    CChunkInfo chunk;
    ASSERT_EQ(ann_->back.Upload(file.info, nullptr, op, chunk), 1);
    ASSERT_EQ(op, "upload_chunk");
    const std::string forged = TestBytes(size, 3);
    CChunkBuffer buffer(static_cast<uint32_t>(size));
    std::memcpy(buffer.data(), forged.data(), forged.size());
    buffer.SetLength(static_cast<uint32_t>(forged.size()));
    EXPECT_EQ(ann_->transmitter.UploadChunk(chunk, buffer, result, 0), 0);
    EXPECT_EQ(ann_->transmitter.GetReason(), "16");
    EXPECT_EQ(ann_->transmitter.UploadChunk(chunk, buffer, result, 1), 0) << "nor is it a delta";
    EXPECT_EQ(ann_->transmitter.GetReason(), "16");
    EXPECT_TRUE(std::filesystem::is_empty(data_ / "service/chunks")) << "no file, not even a temporary one";

    CChunkInfo next;
    EXPECT_EQ(ann_->back.ChunkDone(file.info, chunk, op, next), 1);
    EXPECT_EQ(op, "upload_chunk") << "the service asks again for what it still lacks";
    EXPECT_EQ(next.key, chunk.key);
    EXPECT_EQ(next.storageId, chunk.storageId);
    EXPECT_EQ(List(*ann_, "ann").count(path), 0u) << "no version without its content";
  }
}

TEST_F(ServiceTransferTest, SeveralHostsUploadAtOnce) {
  constexpr int kHosts = 4;
  constexpr int kFiles = 5;
  std::vector<std::unique_ptr<ServiceClient>> hosts;
  for (int h = 0; h < kHosts; ++h) hosts.push_back(Connect("ann", "s3cret"));
  std::vector<std::string> outcomes(kHosts * kFiles);
  std::vector<std::thread> threads;
  for (int h = 0; h < kHosts; ++h) {
    threads.emplace_back([&, h] {
      for (int f = 0; f < kFiles; ++f) {
        // Every host also sends one chunk all of them share.
        const std::string content = TestBytes(3000, 100 + h * kFiles + f) + (f == 0 ? "" : TestBytes(1000, 7));
        const std::string name = "ann/docs/h" + std::to_string(h) + "-" + std::to_string(f);
        outcomes[h * kFiles + f] = Upload(*hosts[h], DescribeFile(name, content));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& outcome : outcomes) EXPECT_EQ(outcome, "all_chunk_exist");
  EXPECT_EQ(List(*ann_, "ann/docs").size(), static_cast<size_t>(kHosts * kFiles));
}

TEST_F(ServiceTransferTest, GarbledRequestsNeverStopTheService) {
  // A valid announcement, then copies with bytes overwritten at random.
  const ClientFile file = DescribeFile("ann/docs/a.txt", "alpha");
  std::string op;
  CChunkInfo chunk;
  ASSERT_EQ(ann_->back.Upload(file.info, nullptr, op, chunk), 1);
  std::mt19937 random(42);
  CHttpTransport transport;
  std::string error;
  ASSERT_TRUE(transport.Open(error));
  transport.SetTimeout(10000);
  const std::string base = EncodeRequest(
      "<operation name=\"upload_file\" version=\"version01\"><request_head user_name=\"ann\" password=\"" +
          CSoapFrame::PasswordDigest("s3cret") + "\" passport=\"" + ann_->passport +
          "\" req_sequence=\"1\"><host_id>" + ann_->hostId +
          "</host_id></request_head><upload_file file_name=\"ann/docs/a.txt\" dir_flag=\"no\" file_size=\"5\" "
          "modify_time=\"1\" new_chunk_num=\"1\" new_file_flag=\"yes\" old_chunk_num=\"0\"><new_chunk MD5=\"" +
          chunk.key + "\" chunk_size=\"5\" block_num=\"0\"/></upload_file></operation>",
      {}).body;
  for (int round = 0; round < 300; ++round) {
    std::string garbled = base;
    for (int n = 0; n < 1 + round % 8; ++n) garbled[random() % garbled.size()] = static_cast<char>(random());
    HttpReply reply;
    ASSERT_EQ(transport.Post(Url("/axis2/services/vor_service_bs"), kSoapContentType, garbled, reply, error), 0)
        << "round " << round << ": " << error;
    EXPECT_EQ(reply.status, 200);
  }
  EXPECT_EQ(Upload(*ann_, file), "all_chunk_exist") << "still serving";
}

}  // namespace
