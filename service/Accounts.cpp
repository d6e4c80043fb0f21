#include "service/Accounts.h"

#include <ctime>

#include "protocol/SoapFrame.h"
#include "service/Identifiers.h"

namespace {

constexpr int kMessagesKept = 100;  // the newest ones are answered

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

bool ReadUser(CStatement& row, UserRecord& user) {
  if (!row.Step()) return false;
  user.id = row.Int(0);
  user.name = row.Text(1);
  user.ha1 = row.Text(2);
  user.headDigest = row.Text(3);
  return true;
}

}  // namespace

std::string CAccounts::Ha1(const std::string& name, const std::string& password) {
  const std::string text = name + ":" + kRealm + ":" + password;
  return Md5Lower(text.data(), text.size());
}

std::string CAccounts::HeadDigest(const std::string& password) { return CSoapFrame::PasswordDigest(password); }

bool CAccounts::AddUser(const std::string& name, const std::string& password) {
  CTransaction transaction(db_);
  if (db_.IntOr(0, "SELECT 1 FROM users WHERE name = ?1", name)) return false;
  db_.Run("INSERT INTO users(name, ha1, head_digest, created) VALUES(?1, ?2, ?3, ?4)", name, Ha1(name, password),
          HeadDigest(password), Now());
  transaction.Commit();
  return true;
}

bool CAccounts::SetPassword(const std::string& name, const std::string& password) {
  CTransaction transaction(db_);
  const int64_t id = db_.IntOr(0, "SELECT id FROM users WHERE name = ?1", name);
  if (!id) return false;
  db_.Run("UPDATE users SET ha1 = ?1, head_digest = ?2 WHERE id = ?3", Ha1(name, password), HeadDigest(password), id);
  db_.Run("DELETE FROM passports WHERE user_id = ?1", id);
  transaction.Commit();
  return true;
}

bool CAccounts::FindUser(const std::string& name, UserRecord& user) {
  auto lock = db_.Lock();
  CStatement row = db_.Query("SELECT id, name, ha1, head_digest FROM users WHERE name = ?1", name);
  return ReadUser(row, user);
}

bool CAccounts::FindUser(int64_t id, UserRecord& user) {
  auto lock = db_.Lock();
  CStatement row = db_.Query("SELECT id, name, ha1, head_digest FROM users WHERE id = ?1", id);
  return ReadUser(row, user);
}

std::string CAccounts::IssuePassport(int64_t userId, int64_t lifetimeSeconds) {
  const std::string passport = RandomHex(32);
  CTransaction transaction(db_);
  db_.Run("DELETE FROM passports WHERE expires <= ?1", Now());
  db_.Run("INSERT INTO passports(value, user_id, expires) VALUES(?1, ?2, ?3)", passport, userId,
          Now() + lifetimeSeconds);
  transaction.Commit();
  return passport;
}

bool CAccounts::PassportValid(int64_t userId, const std::string& passport) {
  auto lock = db_.Lock();
  return db_.IntOr(0, "SELECT 1 FROM passports WHERE value = ?1 AND user_id = ?2 AND expires > ?3", passport, userId,
                   Now()) != 0;
}

std::string CAccounts::RegisterHost(int64_t userId, const std::string& computerName) {
  const std::string id = RandomHex(16);
  auto lock = db_.Lock();
  db_.Run("INSERT INTO hosts(id, user_id, computer_name, created) VALUES(?1, ?2, ?3, ?4)", id, userId, computerName,
          Now());
  return id;
}

int64_t CAccounts::HostUser(const std::string& hostId) {
  auto lock = db_.Lock();
  return db_.IntOr(0, "SELECT user_id FROM hosts WHERE id = ?1", hostId);
}

bool CAccounts::TakeEvent(const std::string& hostId) {
  CTransaction transaction(db_);
  const bool pending = db_.IntOr(0, "SELECT pending_event FROM hosts WHERE id = ?1", hostId) != 0;
  if (pending) db_.Run("UPDATE hosts SET pending_event = 0 WHERE id = ?1", hostId);
  transaction.Commit();
  return pending;
}

void CAccounts::Touch(const std::vector<int64_t>& users, const std::string& actingHost) {
  CTransaction transaction(db_);
  for (const int64_t user : users) {
    db_.Run("UPDATE users SET change_seq = change_seq + 1 WHERE id = ?1", user);
    db_.Run("UPDATE hosts SET pending_event = 1 WHERE user_id = ?1 AND id <> ?2", user, actingHost);
  }
  transaction.Commit();
}

int64_t CAccounts::ChangeSequence(int64_t userId) {
  auto lock = db_.Lock();
  return db_.IntOr(0, "SELECT change_seq FROM users WHERE id = ?1", userId);
}

int64_t CAccounts::AddMessage(const std::string& text, int64_t expireInSeconds) {
  auto lock = db_.Lock();
  const int64_t now = Now();
  db_.Run("INSERT INTO messages(type, create_time, expire_time, info) VALUES(0, ?1, ?2, ?3)", now,
          now + expireInSeconds, text);
  return db_.LastInsertId();
}

std::vector<SystemMessage> CAccounts::Messages() {
  auto lock = db_.Lock();
  std::vector<SystemMessage> messages;
  CStatement row = db_.Query(
      "SELECT id, type, create_time, expire_time, info FROM "
      "(SELECT * FROM messages ORDER BY id DESC LIMIT ?1) ORDER BY id",
      kMessagesKept);
  while (row.Step()) messages.push_back({row.Int(0), row.Int(1), row.Int(2), row.Int(3), row.Text(4)});
  return messages;
}

void CAccounts::AddToCounter(const std::string& name, int64_t amount) {
  auto lock = db_.Lock();
  db_.Run("INSERT INTO counters(name, value) VALUES(?1, ?2) ON CONFLICT(name) DO UPDATE SET value = value + ?2",
          name, amount);
}

std::vector<std::pair<std::string, int64_t>> CAccounts::Counters() {
  auto lock = db_.Lock();
  std::vector<std::pair<std::string, int64_t>> counters;
  CStatement row = db_.Query("SELECT name, value FROM counters ORDER BY name");
  while (row.Step()) counters.emplace_back(row.Text(0), row.Int(1));
  return counters;
}
