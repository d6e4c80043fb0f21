#pragma once
// What the two sides of a synchronisation must agree on: every entry of a
// tree by path relative to the user folder, a folder as "<folder>", a file
// as "<size>:<md5 of its bytes>" (readable when a large file differs).
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/engine/ServerUser.h"
#include "tests/e2e/engine/ServiceProcess.h"

using TreeState = std::map<std::string, std::string>;

extern const char* const kFolderState;

// The state of `bytes` as a file entry.
std::string FileState(const std::string& bytes);

// The user folder as the user sees it: everything but the client's share
// markers and folder icon files. Temporary files of an unfinished write
// count as entries, so they show as differences.
TreeState LocalTree(const std::string& userFolder);

// What the service holds for the user: the listing, each file's bytes read
// from the service's stored chunks. Entries of a shared folder appear under
// the folder's path, as the client shows them.
TreeState ServiceTree(ServerUser& user, ServiceProcess& service);

// Files anywhere below `folder` (the chunk cache: left over after a run only
// when something was not finished).
std::vector<std::string> FilesBelow(const std::string& folder);
