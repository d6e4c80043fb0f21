#pragma once
// The users' file trees and the shares between them.
//
// Every user owns one tree of entries (tree paths "/a/b"). A share makes one
// folder of its owner's tree visible to other users: it is mounted at a
// path of each member's own tree, and shows, for the owner too, as a shared
// folder whose contents travel under server paths that begin with the
// share id. Every change moves the change sequence of the accounts that see
// it and tells their other hosts (CAccounts::Touch).
#include <cstdint>
#include <string>
#include <vector>

#include "service/Accounts.h"
#include "service/Chunks.h"
#include "service/ServiceDb.h"

struct ChunkRef {
  std::string key;  // as the uploading client wrote it
  int64_t size = 0;
  std::string storageKey;
};

struct EntryRecord {
  int64_t id = 0;
  int64_t owner = 0;
  std::string path;
  int dir = 0;  // 0 file, 1 folder
  int64_t size = 0;
  int64_t mtime = 0;
  int64_t version = 0;
};

// A share as one user sees it.
struct ShareView {
  int64_t id = 0;
  int64_t owner = 0;
  std::string ownerName;
  std::string folder;  // in the owner's tree
  std::string mount;   // in the viewer's tree; the folder itself for the owner
};

// The caller with the shares that reach into or out of their tree.
struct Viewer {
  UserRecord user;
  std::vector<ShareView> shares;

  const ShareView* Share(int64_t id) const;
};

// Where a server path leads.
struct Location {
  int64_t owner = 0;      // the tree holding it
  std::string path;       // in that tree; "" is the tree's root
  int64_t shareId = 0;    // reached through this share (0: the viewer's own tree)
  bool shareRoot = false; // the shared folder itself
  bool mount = false;     // a member's mount point (not the owner's folder)
};

// One entry of a listing, as the viewer names it.
struct ListedEntry {
  std::string serverPath;
  int dir = 0;          // 0 file, 1 folder, >1 shared folder (its id)
  std::string owner;    // shared folders: the owner's name
  int64_t size = 0;
  int64_t mtime = 0;
  std::vector<ChunkRef> chunks;  // files
};

class CTree {
 public:
  CTree(CServiceDb& db, CAccounts& accounts, CChunkStore& chunks) : db_(db), accounts_(accounts), chunks_(chunks) {}

  Viewer LoadViewer(const UserRecord& user);
  // 0, or reason 9 (a path the service refuses), 7 (no tree of that name
  // for this viewer).
  int Resolve(const Viewer& viewer, const std::string& serverPath, Location& location);
  // The server path under which the viewer sees a tree path.
  std::string Present(const Viewer& viewer, int64_t owner, const std::string& path) const;

  bool FindEntry(int64_t owner, const std::string& path, EntryRecord& entry);
  std::vector<ChunkRef> EntryChunks(int64_t entryId);
  // True when a folder is there: a tree root, a shared folder, or a folder entry.
  bool IsFolder(const Location& location);

  // The folder's contents at every depth, parents before children; with
  // `withRoot` the viewer's root folder first. 7 when no folder is there.
  int List(const Viewer& viewer, const Location& folder, bool withRoot, std::vector<ListedEntry>& entries);

  // ---- changes (each one its own transaction; `host` is the acting host) ----
  // 0 or a reason: 10 a file is there, 20 no parent folder.
  int MakeFolder(const Location& location, int64_t mtime, const std::string& host);
  // Replaces (or creates) the file at `location` with a new version, unless
  // its current version is no longer `baseVersion` (0: no file expected):
  // then false and nothing changes.
  bool CommitFile(const Location& location, int64_t baseVersion, int64_t size, int64_t mtime,
                  const std::vector<ChunkRef>& chunks, const std::string& host);
  int Rename(const Viewer& viewer, const Location& from, const Location& to, const std::string& host);
  int Remove(const Viewer& viewer, const Location& location, const std::string& host);

  // ---- administration ----
  // Shares the owner's folder with the user (joining an existing share of
  // that folder). 0 with the share id, or a reason with `error` in words.
  int Share(const std::string& ownerName, const std::string& folder, const std::string& memberName, int64_t& id,
            std::string& error);

 private:
  // The owner and every member of the owner's shares.
  std::vector<int64_t> Audience(int64_t owner);
  void Touch(std::vector<int64_t> users, const std::string& host);
  // Drops unfinished uploads at or below the path; the chunk ids they named.
  std::vector<std::string> DropUploads(int64_t owner, const std::string& path);
  // Deletes entries (and unfinished uploads) at or below the path; the
  // chunk ids they named.
  std::vector<std::string> DeleteEntries(int64_t owner, const std::string& path);
  void EndShare(int64_t shareId, const std::string& host);
  // 0 when the entry may move there, else the reason.
  int MoveRefusal(const Viewer& viewer, const Location& from, const Location& to);
  int MoveMount(const Viewer& viewer, const Location& from, const Location& to, const std::string& host);
  bool Occupied(const Viewer& viewer, const Location& location);
  std::string FreeMount(int64_t member, const std::string& name, const std::string& ownerName);
  void AppendEntries(const Viewer& viewer, int64_t owner, const std::string& folder, std::vector<ListedEntry>& out);

  CServiceDb& db_;
  CAccounts& accounts_;
  CChunkStore& chunks_;
};
