// The viewer's shares, server paths in both directions, lookups and listings.
#include "service/Tree.h"

#include "service/ServerPath.h"

const ShareView* Viewer::Share(int64_t id) const {
  for (const ShareView& share : shares) {
    if (share.id == id) return &share;
  }
  return nullptr;
}

Viewer CTree::LoadViewer(const UserRecord& user) {
  auto lock = db_.Lock();
  Viewer viewer{user, {}};
  CStatement rows = db_.Query(
      "SELECT s.id, s.owner_id, u.name, s.folder, s.folder FROM shares s JOIN users u ON u.id = s.owner_id "
      "WHERE s.owner_id = ?1 "
      "UNION ALL SELECT s.id, s.owner_id, u.name, s.folder, m.mount FROM share_members m "
      "JOIN shares s ON s.id = m.share_id JOIN users u ON u.id = s.owner_id WHERE m.user_id = ?1",
      user.id);
  while (rows.Step()) viewer.shares.push_back({rows.Int(0), rows.Int(1), rows.Text(2), rows.Text(3), rows.Text(4)});
  return viewer;
}

int CTree::Resolve(const Viewer& viewer, const std::string& serverPath, Location& location) {
  ServerPathParts parts;
  if (!SplitServerPath(serverPath, parts)) return 9;
  const int64_t self = viewer.user.id;
  int64_t id = 0;
  if (parts.head == viewer.user.name) {
    for (const ShareView& share : viewer.shares) {
      if (!IsAtOrBelow(parts.rest, share.mount)) continue;
      const bool root = parts.rest == share.mount;
      location = {share.owner, Rebase(parts.rest, share.mount, share.folder), share.id, root,
                  root && share.owner != self};
      return 0;
    }
    location = {self, parts.rest, 0, false, false};
    return 0;
  }
  const ShareView* share = ParseShareId(parts.head, id) ? viewer.Share(id) : nullptr;
  if (!share) return 7;
  const bool root = parts.rest.empty();
  location = {share->owner, share->folder + parts.rest, share->id, root, root && share->owner != self};
  return 0;
}

std::string CTree::Present(const Viewer& viewer, int64_t owner, const std::string& path) const {
  for (const ShareView& share : viewer.shares) {
    if (share.owner != owner) continue;
    if (IsBelow(path, share.folder)) return std::to_string(share.id) + path.substr(share.folder.size());
    if (path == share.folder) return viewer.user.name + share.mount;
  }
  return owner == viewer.user.id ? viewer.user.name + path : "";
}

bool CTree::FindEntry(int64_t owner, const std::string& path, EntryRecord& entry) {
  auto lock = db_.Lock();
  CStatement row = db_.Query(
      "SELECT id, owner_id, path, dir, size, mtime, version FROM entries WHERE owner_id = ?1 AND path = ?2", owner,
      path);
  if (!row.Step()) return false;
  entry = {row.Int(0), row.Int(1), row.Text(2), static_cast<int>(row.Int(3)), row.Int(4), row.Int(5), row.Int(6)};
  return true;
}

std::vector<ChunkRef> CTree::EntryChunks(int64_t entryId) {
  auto lock = db_.Lock();
  std::vector<ChunkRef> chunks;
  CStatement rows = db_.Query(
      "SELECT c.key_text, c.size, k.storage_key FROM entry_chunks c LEFT JOIN chunks k ON k.md5 = c.md5 "
      "WHERE c.entry_id = ?1 ORDER BY c.idx",
      entryId);
  while (rows.Step()) chunks.push_back({rows.Text(0), rows.Int(1), rows.Text(2)});
  return chunks;
}

bool CTree::IsFolder(const Location& location) {
  if (location.path.empty() || location.shareRoot) return true;
  EntryRecord entry;
  return FindEntry(location.owner, location.path, entry) && entry.dir == 1;
}

int CTree::List(const Viewer& viewer, const Location& folder, bool withRoot, std::vector<ListedEntry>& entries) {
  auto lock = db_.Lock();
  if (!IsFolder(folder)) return 7;
  if (withRoot) entries.push_back({viewer.user.name, 1, "", 0, 1, {}});
  AppendEntries(viewer, folder.owner, folder.path, entries);
  if (folder.owner != viewer.user.id || folder.shareId != 0) return 0;
  // Shares of others mounted inside the listed part of the viewer's tree.
  for (const ShareView& share : viewer.shares) {
    if (share.owner == viewer.user.id || !IsBelow(share.mount, folder.path)) continue;
    entries.push_back({viewer.user.name + share.mount, static_cast<int>(share.id), share.ownerName, 0, 1, {}});
    AppendEntries(viewer, share.owner, share.folder, entries);
  }
  return 0;
}

void CTree::AppendEntries(const Viewer& viewer, int64_t owner, const std::string& folder,
                          std::vector<ListedEntry>& out) {
  // One pass over the entries below the folder with their chunks; the
  // range "folder/" .. "folder0" holds exactly the paths below it.
  CStatement rows = db_.Query(
      "SELECT e.id, e.path, e.dir, e.size, e.mtime, c.key_text, c.size, k.storage_key FROM entries e "
      "LEFT JOIN entry_chunks c ON c.entry_id = e.id LEFT JOIN chunks k ON k.md5 = c.md5 "
      "WHERE e.owner_id = ?1 AND e.path > ?2 AND e.path < ?3 ORDER BY e.path, c.idx",
      owner, folder + "/", folder + "0");
  int64_t current = 0;
  bool visible = false;
  while (rows.Step()) {
    if (rows.Int(0) != current) {
      current = rows.Int(0);
      const std::string path = rows.Text(1);
      const std::string name = Present(viewer, owner, path);
      visible = !name.empty();
      if (!visible) continue;
      ListedEntry entry{name, static_cast<int>(rows.Int(2)), "", rows.Int(3), rows.Int(4), {}};
      for (const ShareView& share : viewer.shares) {
        if (share.owner == owner && share.folder == path) {
          entry.dir = static_cast<int>(share.id);
          entry.owner = share.ownerName;
        }
      }
      out.push_back(std::move(entry));
    }
    if (visible && !rows.Text(5).empty()) out.back().chunks.push_back({rows.Text(5), rows.Int(6), rows.Text(7)});
  }
}
