#include "tests/unit/service/ServiceFixture.h"

#include <cstring>
#include <random>
#include <sstream>

#include "foundation/Util.h"
#include "service/Admin.h"
#include "store/ChunkBuffer.h"

std::string TestBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

ClientFile DescribeFile(const std::string& serverPath, const std::string& content, int64_t mtime) {
  ClientFile file;
  file.info = CFileInfo(serverPath, 0, static_cast<int64_t>(content.size()));
  file.info.mtime = mtime;
  for (size_t at = 0; at < content.size(); at += kChunkSize) {
    const std::string piece = content.substr(at, kChunkSize);
    std::string key, sums, hashes;
    int blocks = 0;
    CUtil::Md5Hex(piece.data(), piece.size(), key);
    CUtil::BlockSignatureLists(piece.data(), piece.size(), sums, hashes, blocks);
    file.info.AddChunk(key, static_cast<int32_t>(piece.size()), sums, hashes, blocks);
    file.bytes[key] = piece;
  }
  file.info.BuildChunkList();
  return file;
}

ClientFile DescribeFolder(const std::string& serverPath) {
  ClientFile folder;
  folder.info = CFileInfo(serverPath, 1, 0);
  folder.info.mtime = 1;
  return folder;
}

ServiceOptions ServiceFixture::Options() const {
  ServiceOptions options;
  options.dataFolder = data_ / "service";
  options.port = 0;
  return options;
}

void ServiceFixture::SetUp() {
  std::string error;
  ASSERT_TRUE(InitDataFolder(data_ / "service", error)) << error;
  Restart(Options());
}

void ServiceFixture::TearDown() { service_.reset(); }

void ServiceFixture::Restart(const ServiceOptions& options) {
  service_.reset();
  service_ = std::make_unique<CService>(options);
  std::string error;
  ASSERT_TRUE(service_->Start(error)) << error;
}

std::string ServiceFixture::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(service_->Port()) + path;
}

int ServiceFixture::Admin(std::vector<std::string> args, std::string* out) {
  args.insert(args.begin(), {"--data", data_ / "service"});
  std::ostringstream text, errors;
  const int code = RunAdmin(args, text, errors);
  if (out) *out = text.str() + errors.str();
  return code;
}

void ServiceFixture::AddUser(const std::string& name, const std::string& password) {
  std::string out;
  ASSERT_EQ(Admin({"adduser", name, password}, &out), kExitOk) << out;
}

std::unique_ptr<ServiceClient> ServiceFixture::Connect(const std::string& user, const std::string& password) {
  auto client = std::make_unique<ServiceClient>();
  client->user = user;
  client->password = password;
  CAuth auth;
  std::string& back = client->backUrl;
  std::string& transmitter = client->transmitterUrl;
  std::string& heartbeat = client->heartbeatUrl;
  std::string result;
  EXPECT_TRUE(auth.Init(Url("/vorportal/LoginServlet"), user, password));
  EXPECT_EQ(auth.Request(client->passport, "", ""), 1);
  auth.GetServers(back, transmitter, heartbeat);
  EXPECT_EQ(client->back.Init(back, user, password, "", ""), 1);
  client->back.SetCredentials(user, password, client->passport);
  EXPECT_EQ(client->back.GetHostID("test-pc", client->hostId), 1);
  client->back.Init(back, user, password, client->hostId, "");
  client->back.SetCredentials(user, password, client->passport);
  EXPECT_EQ(client->back.Login(result), 1) << client->back.GetReason();
  EXPECT_EQ(client->back.GetServerRoot(client->root), 1);
  EXPECT_EQ(client->transmitter.Init(transmitter, user, password, client->hostId, ""), 1);
  return client;
}

std::string ServiceFixture::Upload(ServiceClient& client, const ClientFile& file, const CFileInfo* old, bool delta,
                                   int* sent) {
  std::string op, result;
  CChunkInfo chunk;
  if (!client.back.Upload(file.info, old, op, chunk)) return "failed";
  while (op == "upload_chunk") {
    const auto found = file.bytes.find(chunk.key);
    if (found == file.bytes.end()) return "failed: asked for an unknown chunk";
    CChunkBuffer whole(kChunkSize);
    std::memcpy(whole.data(), found->second.data(), found->second.size());
    whole.SetLength(static_cast<uint32_t>(found->second.size()));
    CChunkBuffer encoded(0);
    const bool asDelta = delta && old && old->MakeDelta(whole, encoded);
    if (!client.transmitter.UploadChunk(chunk, asDelta ? encoded : whole, result, asDelta ? 1 : 0)) return "failed";
    if (sent) ++*sent;
    CChunkInfo next;
    if (!client.back.ChunkDone(file.info, chunk, op, next)) return "failed";
    chunk = next;
  }
  return op;
}

CFileInfo ServiceFixture::Describe(ServiceClient& client, const std::string& serverPath) {
  CFileInfo file;
  std::string result;
  EXPECT_EQ(client.back.Download(serverPath, result, file), 1) << client.back.GetReason();
  return file;
}

CBack::FileMap ServiceFixture::List(ServiceClient& client, const std::string& folder) {
  CBack::FileMap files;
  std::string result;
  EXPECT_EQ(client.back.GetList(folder, result, files), 1) << client.back.GetReason();
  return files;
}

std::string ServiceFixture::StoredChunk(const std::string& storageKey) const {
  return ReadFile(data_ / ("service/chunks/" + storageKey));
}

long long ServiceFixture::Counter(const std::string& name) {
  std::string out;
  Admin({"stats"}, &out);
  std::istringstream lines(out);
  std::string key;
  long long value = 0;
  while (lines >> key >> value) {
    if (key == name) return value;
  }
  return 0;
}

std::string ServiceFixture::ServiceLog() const { return ReadFile(data_ / "service/service.log"); }
