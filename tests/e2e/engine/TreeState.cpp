#include "tests/e2e/engine/TreeState.h"

#include <filesystem>

#include "foundation/Util.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

const char* const kFolderState = "<folder>";

std::string FileState(const std::string& bytes) {
  std::string digest = "empty";
  if (!bytes.empty()) CUtil::Md5Hex(bytes.data(), bytes.size(), digest);
  return std::to_string(bytes.size()) + ":" + digest;
}

TreeState LocalTree(const std::string& userFolder) {
  TreeState tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(userFolder, error); !error && it != fs::end(it);
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name == "desktop.ini" || name == ".vessashare") continue;
    const std::string rel = "/" + fs::relative(it->path(), userFolder).string();
    tree[rel] = it->is_directory() ? kFolderState : FileState(ReadFile(it->path().string()));
  }
  return tree;
}

TreeState ServiceTree(ServerUser& user, ServiceProcess& service) {
  const CBack::FileMap listing = user.List();
  std::map<std::string, std::string> shareFolders;  // id -> path below the root
  const std::string root = user.Root();
  const auto relative = [&](const std::string& serverPath) {
    const std::size_t slash = serverPath.find('/');
    if (slash == std::string::npos) return std::string();
    const std::string head = serverPath.substr(0, slash);
    const std::string rest = serverPath.substr(slash);
    if (head == root) return rest;
    const auto share = shareFolders.find(head);
    return share == shareFolders.end() ? "/?" + serverPath : share->second + rest;
  };
  for (const auto& [key, entry] : listing) {
    if (entry.dir > 1) shareFolders[std::to_string(entry.dir)] = relative(entry.path);
  }
  TreeState tree;
  for (const auto& [key, entry] : listing) {
    const std::string rel = relative(entry.path);
    if (rel.empty()) continue;
    if (entry.dir != 0) {
      tree[rel] = kFolderState;
      continue;
    }
    std::string bytes;
    for (const CChunkInfo& chunk : user.Describe(entry.path).chunks) {
      bytes += ReadFile(service.ChunkFile(chunk.storageId));
    }
    tree[rel] = FileState(bytes);
  }
  return tree;
}

std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
    if (!it->is_directory()) files.push_back(it->path().string());
  }
  return files;
}
