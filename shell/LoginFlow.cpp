#include "shell/LoginFlow.h"

#include "engine/Work.h"
#include "foundation/Config.h"
#include "platform/Autostart.h"
#include "platform/ComputerName.h"

namespace {

// The values of `keys` from client.db; the values in memory when the
// database cannot be opened just now.
void ReadKeys(CConfig& config, std::initializer_list<std::pair<const char*, std::string*>> keys) {
  const bool open = config.OpenDB();
  for (const auto& [key, value] : keys) {
    value->clear();
    if (open) {
      config.GetValueByKey(key, *value);
    } else {
      *value = config.Get(key);
    }
  }
  if (open) config.Close();
}

}  // namespace

LoginEntries LoadLoginEntries(CConfig& config) {
  LoginEntries entries;
  ReadKeys(config, {{CConfig::kLoginUser, &entries.user},
                    {CConfig::kLoginPasswd, &entries.password},
                    {CConfig::kHostName, &entries.hostName}});
  if (entries.hostName.empty()) {
    entries.hostName = platform::ComputerName();
    if (!entries.hostName.empty()) config.Set(CConfig::kHostName, entries.hostName);
  }
  entries.autostart = platform::AutostartEnabled();
  entries.remember = !config.Get(CConfig::kLoginPasswd).empty();
  return entries;
}

StoredLogin ReadStoredLogin(CConfig& config) {
  StoredLogin stored;
  ReadKeys(config, {{CConfig::kLoginUser, &stored.user}, {CConfig::kLoginPasswd, &stored.password}});
  return stored;
}

bool IsComplete(const LoginEntries& entries) {
  return !entries.user.empty() && !entries.password.empty() && !entries.hostName.empty();
}

bool AsksUserChange(const LoginEntries& entries, const StoredLogin& stored) {
  return entries.user != stored.user && !stored.user.empty();
}

void CommitLogin(CWork& work, const LoginEntries& entries, const StoredLogin& stored, const std::string& program) {
  CConfig& config = work.GetConfig();
  if (entries.user != stored.user) {
    work.SetFirstSync(1);
    config.Set(CConfig::kLoginUser, entries.user);
  } else {
    config.Set(CConfig::kLoginUser, stored.user);
  }
  config.Set(CConfig::kLoginPasswd, entries.password);
  work.SetUser(config.Get(CConfig::kLoginUser), config.Get(CConfig::kLoginPasswd));
  if (config.Get(CConfig::kHostName).empty()) config.Set(CConfig::kHostName, entries.hostName);
  if (entries.autostart) {
    platform::EnableAutostart(program);
  } else {
    platform::DisableAutostart();
  }
  if (!entries.remember) config.Set(CConfig::kLoginPasswd, "");
}
