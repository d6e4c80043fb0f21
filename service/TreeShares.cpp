// Sharing a folder with another user (an administrator's command).
#include <algorithm>

#include "service/ServerPath.h"
#include "service/Tree.h"

std::string CTree::FreeMount(int64_t member, const std::string& name, const std::string& ownerName) {
  const auto taken = [&](const std::string& mount) {
    return db_.IntOr(0, "SELECT 1 FROM entries WHERE owner_id = ?1 AND path = ?2", member, mount) ||
           db_.IntOr(0, "SELECT 1 FROM share_members WHERE user_id = ?1 AND mount = ?2", member, mount);
  };
  std::string mount = "/" + name;
  if (!taken(mount)) return mount;
  const std::string base = mount + " (" + ownerName + ")";
  mount = base;
  for (int n = 2; taken(mount); ++n) mount = base + " " + std::to_string(n);
  return mount;
}

int CTree::Share(const std::string& ownerName, const std::string& folder, const std::string& memberName,
                 int64_t& id, std::string& error) {
  CTransaction transaction(db_);
  UserRecord owner, member;
  std::string path;
  if (!accounts_.FindUser(ownerName, owner) || !accounts_.FindUser(memberName, member)) {
    error = "unknown user " + (owner.id ? memberName : ownerName);
    return 23;
  }
  if (owner.id == member.id) {
    error = "a user cannot share a folder with themselves";
    return 9;
  }
  if (!NormalizeTreePath(folder, path) || path.empty()) {
    error = "not a folder below the root: " + folder;
    return 10;
  }
  EntryRecord entry;
  if (!FindEntry(owner.id, path, entry) || entry.dir != 1) {
    error = ownerName + " has no folder " + path;
    return 10;
  }
  id = db_.IntOr(0, "SELECT id FROM shares WHERE owner_id = ?1 AND folder = ?2", owner.id, path);
  if (!id) {
    // Shares never nest: one path, one share id.
    const std::string below = path + "/";
    const std::string end = path + "0";
    if (db_.IntOr(0,
                  "SELECT 1 FROM shares WHERE owner_id = ?1 AND ((folder > ?2 AND folder < ?3) OR "
                  "(?4 > folder || '/' AND ?4 < folder || '0'))",
                  owner.id, below, end, path) ||
        db_.IntOr(0, "SELECT 1 FROM share_members WHERE user_id = ?1 AND mount > ?2 AND mount < ?3", owner.id, below,
                  end)) {
      error = path + " lies inside or holds another shared folder";
      return 14;
    }
    id = std::max<int64_t>(db_.IntOr(0, "SELECT MAX(id) FROM shares"), 99) + 1;
    db_.Run("INSERT INTO shares(id, owner_id, folder) VALUES(?1, ?2, ?3)", id, owner.id, path);
  }
  if (!db_.IntOr(0, "SELECT 1 FROM share_members WHERE share_id = ?1 AND user_id = ?2", id, member.id)) {
    db_.Run("INSERT INTO share_members(share_id, user_id, mount) VALUES(?1, ?2, ?3)", id, member.id,
            FreeMount(member.id, BaseName(path), owner.name));
  }
  std::vector<int64_t> users = Audience(owner.id);
  users.push_back(member.id);
  Touch(users, "");
  transaction.Commit();
  return 0;
}
