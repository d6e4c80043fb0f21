// Changes to the trees: new folders, new file versions, renames, removals.
#include <algorithm>

#include "service/Identifiers.h"
#include "service/ServerPath.h"
#include "service/Tree.h"

namespace {

// A subtree of one tree. Its statements bind ?1 owner, ?2 path, ?3 path + "/"
// and ?4 path + "0": the range between ?3 and ?4 holds exactly the paths
// below ?2.
struct Subtree {
  Subtree(int64_t owner, const std::string& path) : owner(owner), path(path), below(path + "/"), end(path + "0") {}
  int64_t owner;
  std::string path, below, end;
};

// SQL condition "`column` is the subtree's path or lies below it".
std::string AtOrBelow(const char* column) {
  const std::string c = column;
  return "(" + c + " = ?2 OR (" + c + " > ?3 AND " + c + " < ?4))";
}

template <typename... More>
int Run(CServiceDb& db, const std::string& sql, const Subtree& tree, const More&... more) {
  return db.Run(sql.c_str(), tree.owner, tree.path, tree.below, tree.end, more...);
}

bool Any(CServiceDb& db, const std::string& sql, const Subtree& tree) {
  return db.IntOr(0, sql.c_str(), tree.owner, tree.path, tree.below, tree.end) != 0;
}

std::vector<std::string> Texts(CServiceDb& db, const std::string& sql, const Subtree& tree) {
  std::vector<std::string> texts;
  CStatement rows = db.Query(sql.c_str(), tree.owner, tree.path, tree.below, tree.end);
  while (rows.Step()) texts.push_back(rows.Text(0));
  return texts;
}

}  // namespace

std::vector<std::string> CTree::DropUploads(int64_t owner, const std::string& path) {
  const Subtree tree(owner, path);
  const std::string uploads = "(SELECT id FROM uploads WHERE owner_id = ?1 AND " + AtOrBelow("path") + ")";
  std::vector<std::string> ids = Texts(db_, "SELECT md5 FROM upload_chunks WHERE upload_id IN " + uploads, tree);
  Run(db_, "DELETE FROM upload_chunks WHERE upload_id IN " + uploads, tree);
  Run(db_, "DELETE FROM uploads WHERE owner_id = ?1 AND " + AtOrBelow("path"), tree);
  return ids;
}

std::vector<int64_t> CTree::Audience(int64_t owner) {
  std::vector<int64_t> users{owner};
  CStatement rows = db_.Query(
      "SELECT m.user_id FROM share_members m JOIN shares s ON s.id = m.share_id WHERE s.owner_id = ?1", owner);
  while (rows.Step()) users.push_back(rows.Int(0));
  return users;
}

void CTree::Touch(std::vector<int64_t> users, const std::string& host) {
  std::sort(users.begin(), users.end());
  users.erase(std::unique(users.begin(), users.end()), users.end());
  accounts_.Touch(users, host);
}

int CTree::MakeFolder(const Location& location, int64_t mtime, const std::string& host) {
  CTransaction transaction(db_);
  if (IsFolder(location)) return 0;
  EntryRecord entry;
  if (FindEntry(location.owner, location.path, entry)) return 10;
  if (!IsFolder({location.owner, ParentPath(location.path)})) return 20;
  db_.Run("INSERT INTO entries(owner_id, path, dir, size, mtime, version) VALUES(?1, ?2, 1, 0, ?3, 1)",
          location.owner, location.path, mtime);
  Touch(Audience(location.owner), host);
  transaction.Commit();
  return 0;
}

bool CTree::CommitFile(const Location& location, int64_t baseVersion, int64_t size, int64_t mtime,
                       const std::vector<ChunkRef>& chunks, const std::string& host) {
  CTransaction transaction(db_);
  EntryRecord entry;
  const bool exists = FindEntry(location.owner, location.path, entry);
  if (exists ? entry.dir != 0 || entry.version != baseVersion : baseVersion != 0) return false;
  if (!exists && !IsFolder({location.owner, ParentPath(location.path)})) return false;
  std::vector<std::string> released;
  if (exists) {
    CStatement old = db_.Query("SELECT md5 FROM entry_chunks WHERE entry_id = ?1", entry.id);
    while (old.Step()) released.push_back(old.Text(0));
    db_.Run("DELETE FROM entry_chunks WHERE entry_id = ?1", entry.id);
    db_.Run("UPDATE entries SET size = ?2, mtime = ?3, version = version + 1 WHERE id = ?1", entry.id, size, mtime);
  } else {
    db_.Run("INSERT INTO entries(owner_id, path, dir, size, mtime, version) VALUES(?1, ?2, 0, ?3, ?4, 1)",
            location.owner, location.path, size, mtime);
    entry.id = db_.LastInsertId();
  }
  for (size_t i = 0; i < chunks.size(); ++i) {
    db_.Run("INSERT INTO entry_chunks(entry_id, idx, md5, key_text, size) VALUES(?1, ?2, ?3, ?4, ?5)", entry.id,
            static_cast<int64_t>(i), ChunkId(chunks[i].key), chunks[i].key, chunks[i].size);
  }
  chunks_.ReleaseUnused(released);
  Touch(Audience(location.owner), host);
  transaction.Commit();
  return true;
}

bool CTree::Occupied(const Viewer& viewer, const Location& location) {
  EntryRecord entry;
  if (location.path.empty() || location.shareRoot || FindEntry(location.owner, location.path, entry)) return true;
  for (const ShareView& share : viewer.shares) {
    if (share.owner != viewer.user.id && location.owner == viewer.user.id && share.mount == location.path) {
      return true;
    }
  }
  return false;
}

int CTree::MoveRefusal(const Viewer& viewer, const Location& from, const Location& to) {
  EntryRecord entry;
  if (from.path.empty()) return 9;
  if (!FindEntry(from.owner, from.path, entry)) return 7;
  if (Occupied(viewer, to)) return 26;
  if (!IsFolder({to.owner, ParentPath(to.path)})) return 20;
  if (from.owner == to.owner) return IsBelow(to.path, from.path) ? 9 : 0;
  // A shared folder or a mount cannot leave its owner's tree.
  const Subtree tree(from.owner, from.path);
  if (Any(db_, "SELECT 1 FROM shares WHERE owner_id = ?1 AND " + AtOrBelow("folder"), tree) ||
      Any(db_, "SELECT 1 FROM share_members WHERE user_id = ?1 AND " + AtOrBelow("mount"), tree)) {
    return 14;
  }
  return 0;
}

int CTree::Rename(const Viewer& viewer, const Location& from, const Location& to, const std::string& host) {
  if (from.mount) return MoveMount(viewer, from, to, host);
  CTransaction transaction(db_);
  if (const int reason = MoveRefusal(viewer, from, to)) return reason;
  std::vector<int64_t> users = Audience(from.owner);
  const std::vector<int64_t> target = Audience(to.owner);
  users.insert(users.end(), target.begin(), target.end());
  const std::vector<std::string> released = DropUploads(from.owner, from.path);
  const Subtree tree(from.owner, from.path);
  const int64_t cut = static_cast<int64_t>(from.path.size() + 1);  // substr() counts from 1
  Run(db_, "UPDATE entries SET owner_id = ?5, path = ?6 || substr(path, ?7) WHERE owner_id = ?1 AND " +
               AtOrBelow("path"),
      tree, to.owner, to.path, cut);
  if (from.owner == to.owner) {  // shares and mounts inside move along
    Run(db_, "UPDATE shares SET folder = ?5 || substr(folder, ?6) WHERE owner_id = ?1 AND " + AtOrBelow("folder"),
        tree, to.path, cut);
    Run(db_, "UPDATE share_members SET mount = ?5 || substr(mount, ?6) WHERE user_id = ?1 AND " + AtOrBelow("mount"),
        tree, to.path, cut);
  }
  chunks_.ReleaseUnused(released);
  Touch(users, host);
  transaction.Commit();
  return 0;
}

int CTree::MoveMount(const Viewer& viewer, const Location& from, const Location& to, const std::string& host) {
  CTransaction transaction(db_);
  if (to.owner != viewer.user.id || to.shareId != 0) return 14;  // a mount stays in the member's own tree
  if (Occupied(viewer, to)) return 26;
  if (!IsFolder({to.owner, ParentPath(to.path)})) return 20;
  db_.Run("UPDATE share_members SET mount = ?3 WHERE share_id = ?1 AND user_id = ?2", from.shareId,
          viewer.user.id, to.path);
  Touch({viewer.user.id}, host);
  transaction.Commit();
  return 0;
}

std::vector<std::string> CTree::DeleteEntries(int64_t owner, const std::string& path) {
  std::vector<std::string> ids = DropUploads(owner, path);
  const Subtree tree(owner, path);
  const std::string entries = "(SELECT id FROM entries WHERE owner_id = ?1 AND " + AtOrBelow("path") + ")";
  const std::vector<std::string> named = Texts(db_, "SELECT md5 FROM entry_chunks WHERE entry_id IN " + entries, tree);
  ids.insert(ids.end(), named.begin(), named.end());
  Run(db_, "DELETE FROM entry_chunks WHERE entry_id IN " + entries, tree);
  Run(db_, "DELETE FROM entries WHERE owner_id = ?1 AND " + AtOrBelow("path"), tree);
  return ids;
}

void CTree::EndShare(int64_t shareId, const std::string& host) {
  std::vector<int64_t> members;
  CStatement rows = db_.Query("SELECT user_id FROM share_members WHERE share_id = ?1", shareId);
  while (rows.Step()) members.push_back(rows.Int(0));
  db_.Run("DELETE FROM share_members WHERE share_id = ?1", shareId);
  db_.Run("DELETE FROM shares WHERE id = ?1", shareId);
  Touch(members, host);
}

int CTree::Remove(const Viewer& viewer, const Location& location, const std::string& host) {
  CTransaction transaction(db_);
  if (location.path.empty()) return 11;  // a tree root stays
  if (location.mount) {                  // the member leaves the share
    db_.Run("DELETE FROM share_members WHERE share_id = ?1 AND user_id = ?2", location.shareId, viewer.user.id);
    Touch({viewer.user.id}, host);
    transaction.Commit();
    return 0;
  }
  EntryRecord entry;
  if (!FindEntry(location.owner, location.path, entry)) return 0;  // already gone: nothing to do
  const std::vector<int64_t> audience = Audience(location.owner);
  const Subtree tree(location.owner, location.path);
  const std::string shares = "SELECT id FROM shares WHERE owner_id = ?1 AND " + AtOrBelow("folder");
  for (const std::string& id : Texts(db_, shares, tree)) EndShare(std::stoll(id), host);
  Run(db_, "DELETE FROM share_members WHERE user_id = ?1 AND " + AtOrBelow("mount"), tree);
  chunks_.ReleaseUnused(DeleteEntries(location.owner, location.path));
  Touch(audience, host);
  transaction.Commit();
  return 0;
}
