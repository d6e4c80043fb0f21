#pragma once
// Users, their computers (hosts), passports, change tracking for the
// heartbeat, system messages and the service's counters.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "service/ServiceDb.h"

struct UserRecord {
  int64_t id = 0;
  std::string name;        // also the user's root name on the wire
  std::string ha1;         // MD5("name:realm:password"), hex: what HTTP Digest needs
  std::string headDigest;  // the password form SOAP heads carry
};

struct SystemMessage {
  int64_t id = 0;
  int64_t type = 0;
  int64_t createTime = 0;  // seconds since 1970
  int64_t expireTime = 0;
  std::string info;
};

class CAccounts {
 public:
  static constexpr const char* kRealm = "Vessa";

  explicit CAccounts(CServiceDb& db) : db_(db) {}

  // False when the name is taken.
  bool AddUser(const std::string& name, const std::string& password);
  // False for an unknown user. The user's passports end with the old password.
  bool SetPassword(const std::string& name, const std::string& password);
  bool FindUser(const std::string& name, UserRecord& user);
  bool FindUser(int64_t id, UserRecord& user);

  std::string IssuePassport(int64_t userId, int64_t lifetimeSeconds);
  // True when the passport was issued to this user and has not expired.
  bool PassportValid(int64_t userId, const std::string& passport);

  // A new host id for every registration: two clients on one computer are
  // two hosts, each told about the other's changes.
  std::string RegisterHost(int64_t userId, const std::string& computerName);
  // The host's user, 0 when the host is unknown.
  int64_t HostUser(const std::string& hostId);
  // True once after the accounts of the host changed through someone else.
  bool TakeEvent(const std::string& hostId);
  // The accounts changed: their change sequence moves on, and every host of
  // them but `actingHost` ("" for the administrator) has news.
  void Touch(const std::vector<int64_t>& users, const std::string& actingHost);
  int64_t ChangeSequence(int64_t userId);

  int64_t AddMessage(const std::string& text, int64_t expireInSeconds);
  // The latest messages, oldest first.
  std::vector<SystemMessage> Messages();

  void AddToCounter(const std::string& name, int64_t amount);
  std::vector<std::pair<std::string, int64_t>> Counters();

  // The two password forms stored for a user.
  static std::string Ha1(const std::string& name, const std::string& password);
  static std::string HeadDigest(const std::string& password);

 private:
  CServiceDb& db_;
};
