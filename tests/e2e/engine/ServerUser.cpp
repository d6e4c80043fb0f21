#include "tests/e2e/engine/ServerUser.h"

#include <cstring>
#include <random>

#include "foundation/Util.h"
#include "platform/FileTime.h"
#include "protocol/Auth.h"
#include "store/ChunkBuffer.h"

int64_t ServerTime(int64_t seconds) {
  constexpr int64_t k2021 = 1609459200;  // seconds since 1970
  return static_cast<int64_t>(kFileTimeUnixEpoch) + (k2021 + seconds) * 10000000LL;
}

std::string TestBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

namespace {

// A file as the client cuts it: 4 MiB chunks with keys and block lists.
CFileInfo Describe(const std::string& serverPath, const std::string& content, int64_t mtime,
                   std::map<std::string, std::string>& bytes) {
  CFileInfo info(serverPath, 0, static_cast<int64_t>(content.size()));
  info.mtime = mtime;
  for (std::size_t at = 0; at < content.size(); at += kChunkSize) {
    const std::string piece = content.substr(at, kChunkSize);
    std::string key, sums, hashes;
    int blocks = 0;
    CUtil::Md5Hex(piece.data(), piece.size(), key);
    CUtil::BlockSignatureLists(piece.data(), piece.size(), sums, hashes, blocks);
    info.AddChunk(key, static_cast<int32_t>(piece.size()), sums, hashes, blocks);
    bytes[key] = piece;
  }
  info.BuildChunkList();
  return info;
}

}  // namespace

ServerUser::ServerUser(const std::string& authUrl, const std::string& user, const std::string& password,
                       const std::string& computer) {
  CAuth auth;
  std::string passport, backUrl, transmitterUrl, heartbeatUrl, hostId, result;
  if (!auth.Init(authUrl, user, password) || !auth.Request(passport, "", "")) return;
  auth.GetServers(backUrl, transmitterUrl, heartbeatUrl);
  if (!back_.Init(backUrl, user, password, "", "")) return;
  back_.SetCredentials(user, password, passport);
  if (!back_.GetHostID(computer, hostId)) return;
  back_.Init(backUrl, user, password, hostId, "");
  back_.SetCredentials(user, password, passport);
  ready_ = back_.Login(result) && back_.GetServerRoot(root_) &&
           transmitter_.Init(transmitterUrl, user, password, hostId, "");
}

bool ServerUser::PutFolder(const std::string& rel) {
  CFileInfo folder(ServerPath(rel), 1, 0);
  folder.mtime = 1;
  std::string op;
  CChunkInfo chunk;
  return back_.Upload(folder, nullptr, op, chunk) && op == "all_chunk_exist";
}

bool ServerUser::PutFile(const std::string& rel, const std::string& content, int64_t mtime) {
  return Upload(rel, content, mtime, nullptr);
}

bool ServerUser::ChangeFile(const std::string& rel, const std::string& content, int64_t mtime) {
  const CFileInfo old = Describe(ServerPath(rel));
  return Upload(rel, content, mtime, &old);
}

bool ServerUser::Upload(const std::string& rel, const std::string& content, int64_t mtime, const CFileInfo* old) {
  std::map<std::string, std::string> bytes;
  const CFileInfo file = ::Describe(ServerPath(rel), content, mtime, bytes);
  std::string op, result;
  CChunkInfo chunk;
  if (!back_.Upload(file, old, op, chunk)) return false;
  while (op == "upload_chunk") {
    const auto found = bytes.find(chunk.key);
    if (found == bytes.end()) return false;
    CChunkBuffer whole(kChunkSize);
    std::memcpy(whole.data(), found->second.data(), found->second.size());
    whole.SetLength(static_cast<uint32_t>(found->second.size()));
    CChunkInfo next;
    if (!transmitter_.UploadChunk(chunk, whole, result, 0) || !back_.ChunkDone(file, chunk, op, next)) return false;
    chunk = next;
  }
  return op == "all_chunk_exist";
}

bool ServerUser::Remove(const std::string& rel) {
  std::string result;
  return back_.Remove(ServerPath(rel), result) == 1;
}

bool ServerUser::Rename(const std::string& fromRel, const std::string& toRel) {
  std::string result;
  return back_.Rename(ServerPath(fromRel), ServerPath(toRel), result) == 1;
}

CFileInfo ServerUser::Describe(const std::string& serverPath) {
  CFileInfo file;
  std::string result;
  back_.Download(serverPath, result, file);
  return file;
}

CBack::FileMap ServerUser::List() {
  CBack::FileMap files;
  std::string result;
  back_.GetList(root_, result, files);
  return files;
}
