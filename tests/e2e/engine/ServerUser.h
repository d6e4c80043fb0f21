#pragma once
// Another computer of a user, talking to the service with the client's own
// protocol classes: it fills or changes the user's tree on the service the
// way a second client would (authentication, host registration, login, the
// upload dialogue with the transmitter, rename, remove).
#include <map>
#include <string>

#include "protocol/Back.h"
#include "protocol/Transmitter.h"
#include "store/FileInfo.h"

// FILETIME ticks of a moment `seconds` after 2021-01-01 00:00:00 UTC.
int64_t ServerTime(int64_t seconds);
// `size` bytes that differ with `seed`.
std::string TestBytes(std::size_t size, unsigned seed);

class ServerUser {
 public:
  // Authenticates at `authUrl` and logs in as a computer named `computer`.
  ServerUser(const std::string& authUrl, const std::string& user, const std::string& password,
             const std::string& computer = "populator");

  bool Ready() const { return ready_; }
  const std::string& Root() const { return root_; }
  // "/docs/a.txt" -> "<root>/docs/a.txt"
  std::string ServerPath(const std::string& rel) const { return root_ + rel; }

  // Each stores an entry at a root-relative path ("/docs/a.txt"); true when
  // the service confirmed it. A file's chunks travel only when asked for.
  bool PutFolder(const std::string& rel);
  bool PutFile(const std::string& rel, const std::string& content, int64_t mtime);
  // Replaces a file's content (announced as a change of the current version).
  bool ChangeFile(const std::string& rel, const std::string& content, int64_t mtime);
  bool Remove(const std::string& rel);
  bool Rename(const std::string& fromRel, const std::string& toRel);

  // The service's description of a file, with storage keys; by server path.
  CFileInfo Describe(const std::string& serverPath);
  // The whole listing.
  CBack::FileMap List();

 private:
  bool Upload(const std::string& rel, const std::string& content, int64_t mtime, const CFileInfo* old);

  CBack back_;
  CTransmitter transmitter_;
  std::string root_;
  bool ready_ = false;
};
