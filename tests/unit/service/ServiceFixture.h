#pragma once
// The service running in-process on a loopback port over a temporary data
// folder, and clients built from the project's own client classes.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Auth.h"
#include "protocol/Back.h"
#include "protocol/Transmitter.h"
#include "service/Service.h"
#include "tests/support/TempDir.h"

// One logged-in computer of one user.
struct ServiceClient {
  std::string user;
  std::string password;
  std::string passport;
  std::string hostId;
  std::string root;  // the user's server root
  std::string backUrl, transmitterUrl, heartbeatUrl;
  CBack back;
  CTransmitter transmitter;
};

// A file as the client cuts it: 4 MiB chunks with keys and block lists.
struct ClientFile {
  CFileInfo info;
  std::map<std::string, std::string> bytes;  // chunk key -> chunk bytes
};
ClientFile DescribeFile(const std::string& serverPath, const std::string& content, int64_t mtime = 100);
ClientFile DescribeFolder(const std::string& serverPath);
// `size` bytes that differ from run to run of a seed.
std::string TestBytes(size_t size, unsigned seed);

class ServiceFixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Restarts the service with changed options.
  void Restart(const ServiceOptions& options);
  ServiceOptions Options() const;
  std::string Url(const std::string& path) const;

  // Runs an administration command on the data folder; its exit code.
  int Admin(std::vector<std::string> args, std::string* out = nullptr);
  void AddUser(const std::string& name, const std::string& password);

  // Authenticates, registers a host, logs in and fetches the root.
  std::unique_ptr<ServiceClient> Connect(const std::string& user, const std::string& password);

  // The upload dialogue as the sync engine runs it: announce, send each
  // chunk asked for (as a delta against `old`'s signature when `delta`),
  // report it, until the service says something else than "upload_chunk".
  // The last step's word ("all_chunk_exist", "move_conflic_file", or
  // "failed" when a call failed); `sent` counts the chunks sent.
  std::string Upload(ServiceClient& client, const ClientFile& file, const CFileInfo* old = nullptr,
                     bool delta = false, int* sent = nullptr);

  // The service's current description of a file (with storage keys).
  CFileInfo Describe(ServiceClient& client, const std::string& serverPath);
  CBack::FileMap List(ServiceClient& client, const std::string& folder);
  // A stored chunk's bytes as the service keeps them on disk.
  std::string StoredChunk(const std::string& storageKey) const;
  long long Counter(const std::string& name);
  std::string ServiceLog() const;

  TempDir data_;
  std::unique_ptr<CService> service_;
};
