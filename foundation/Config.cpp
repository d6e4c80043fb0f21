#include "foundation/Config.h"

#include <sqlite3.h>

#include <iterator>

#include "foundation/Format.h"
#include "foundation/Logger.h"
#include "foundation/Sql.h"
#include "foundation/Util.h"

namespace {

constexpr const char* kTable = "config_table";

// The keys a row may set, in load order; proxy_flag is handled apart.
constexpr const char* kTextKeys[] = {
    CConfig::kLoginUser,   CConfig::kLoginPasswd,     CConfig::kHostId,          CConfig::kInstallPath,
    CConfig::kRootPath,    CConfig::kSchemaVersion,   CConfig::kServerRoot,      CConfig::kLogLevel,
    CConfig::kBackServer,  CConfig::kTransmiterServer, CConfig::kHeartbeatServer, CConfig::kHostName,
    CConfig::kAuthServer,  CConfig::kPassport,        CConfig::kDomain,          CConfig::kProxyType,
    CConfig::kProxyAddr,   CConfig::kProxyUser,       CConfig::kProxyPasswd,     CConfig::kTransferLanes,
};

constexpr const char* kGeneralKeys[] = {
    CConfig::kLoginUser,  CConfig::kLoginPasswd,     CConfig::kHostId,     CConfig::kHostName,
    CConfig::kSchemaVersion, CConfig::kInstallPath,  CConfig::kRootPath,   CConfig::kServerRoot,
    CConfig::kLogLevel,   CConfig::kBackServer,      CConfig::kHeartbeatServer, CConfig::kTransmiterServer,
    CConfig::kAuthServer, CConfig::kPassport,        CConfig::kDomain,
};

constexpr const char* kProxyKeys[] = {
    CConfig::kProxyType, CConfig::kProxyAddr, CConfig::kProxyUser, CConfig::kProxyPasswd, CConfig::kProxyFlag,
};

bool IsTextKey(const std::string& key) {
  for (const char* known : kTextKeys) {
    if (key == known) return true;
  }
  return false;
}

bool IsPassword(const std::string& key) { return key == CConfig::kLoginPasswd; }

void LogError(const char* function, const std::string& message) { LogText(CLogger::kError, function, message); }

}  // namespace

CConfig::~CConfig() { Close(); }

int CConfig::Init(const std::string& dbPath) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (dbPath.empty()) {
    LogError("CConfig::Init", "{CConfig::Init} Need set config DB file!");
    return 0;
  }
  if (!dbPath_.empty()) {
    LogError("CConfig::Init", "{CConfig::Init} DB file exist!");
    return 0;
  }
  dbPath_ = dbPath;
  return 1;
}

int CConfig::OpenDB() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (dbPath_.empty()) {
    LogError("CConfig::OpenDB", "{CConfig::OpenDB} DB file undefined!");
    return 0;
  }
  if (db_) {
    LogError("CConfig::OpenDB", "{CConfig::OpenDB} DB file opened before!");
    return 0;
  }
  std::string error;
  db_ = SqlOpen(dbPath_, error);
  if (!db_) {
    LogError("CConfig::OpenDB", "{CConfig::OpenDB} Could not open database: " + error);
    return 0;
  }
  return 1;
}

void CConfig::Close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (db_) sqlite3_close(db_);
  db_ = nullptr;
}

int CConfig::GetValueByKey(const std::string& key, std::string& value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!db_) {
    LogError("CConfig::GetValueByKey", "{CConfig::GetValuebyKey} DB is not open!");
    return 0;
  }
  CSqlTable table;
  std::string error;
  if (!table.Run(db_, StrFormat("SELECT value FROM %s WHERE key='%s';", kTable, SqlEscape(key).c_str()), error)) {
    LogError("CConfig::GetValueByKey", "{CConfig::GetValueByKey} SQL error: " + error);
    return 0;
  }
  if (table.Rows() < 1) return 0;
  const char* stored = table.At(0, 0);
  value = stored ? stored : "";
  if (IsPassword(key)) value = CUtil::DecodePassword(value);
  return 1;
}

int CConfig::SetValueByKey(const std::string& key, const std::string& value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!db_) {
    LogError("CConfig::SetValueByKey", "{CConfig::SetValuebyKey} DB is not open!");
    return 0;
  }
  const std::string stored = IsPassword(key) ? CUtil::EncodePassword(value) : value;
  std::string current;
  std::string sql;
  if (GetValueByKey(key, current)) {
    if (current == value) return 1;
    sql = StrFormat("UPDATE %s SET value='%s' WHERE key='%s'", kTable, SqlEscape(stored).c_str(),
                    SqlEscape(key).c_str());
  } else {
    sql = StrFormat("INSERT INTO %s(key, value) VALUES('%s', '%s');", kTable, SqlEscape(key).c_str(),
                    SqlEscape(stored).c_str());
  }
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    LogError("CConfig::SetValueByKey", std::string("{CConfig::SetValueByKey} SQL error: ") +
                                           (error ? error : sqlite3_errmsg(db_)));
    sqlite3_free(error);
    return 0;
  }
  return 1;
}

int CConfig::LoadRow(void* self, int columns, char** values, char** names) {
  auto* config = static_cast<CConfig*>(self);
  if (columns <= 2 || std::string(names[1]) != "key" || std::string(names[2]) != "value" || !values[1]) {
    return 0;
  }
  const std::string key = values[1];
  const std::string value = values[2] ? values[2] : "";
  if (key == kProxyFlag) {
    config->proxyFlag_ = value == "1" ? 1 : 0;
  } else if (IsTextKey(key)) {
    config->values_[key] = IsPassword(key) ? CUtil::DecodePassword(value) : value;
  }
  return 0;
}

int CConfig::Load() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!OpenDB()) return 0;
  char* error = nullptr;
  const std::string create =
      StrFormat("create table %s(id int primary key, key text not null unique, value text);", kTable);
  if (sqlite3_exec(db_, create.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    LogText(CLogger::kInfo, "CConfig::Load", std::string("{CConfig::Load} SQL info: ") + (error ? error : ""));
  }
  sqlite3_free(error);
  error = nullptr;
  const std::string select = StrFormat("SELECT * from %s", kTable);
  if (sqlite3_exec(db_, select.c_str(), &CConfig::LoadRow, this, &error) != SQLITE_OK) {
    LogError("CConfig::Load", std::string("{CConfig::Load} SQL error: ") + (error ? error : ""));
    sqlite3_free(error);
    return 0;
  }
  Close();
  return 1;
}

int CConfig::StoreKeys(const char* function, const char* const* keys, std::size_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (dbPath_.empty()) {
    LogError(function, "{CConfig::Store} DB file undefined!");
    return 0;
  }
  OpenDB();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string key = keys[i];
    SetValueByKey(key, key == kProxyFlag ? (proxyFlag_ ? "1" : "0") : Get(key));
  }
  Close();
  return 1;
}

int CConfig::Store() { return StoreKeys("CConfig::Store", kGeneralKeys, std::size(kGeneralKeys)); }

int CConfig::StoreProxy() { return StoreKeys("CConfig::StoreProxy", kProxyKeys, std::size(kProxyKeys)); }

void CConfig::FillEmptyDefaults() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const std::pair<const char*, const char*> defaults[] = {
      {kSchemaVersion, kDefaultSchemaVersion},       {kLogLevel, kDefaultLogLevel},
      {kBackServer, kDefaultBackServer},             {kTransmiterServer, kDefaultTransmiterServer},
      {kHeartbeatServer, kDefaultHeartbeatServer},
  };
  for (const auto& [key, value] : defaults) {
    if (Get(key).empty()) Set(key, value);
  }
  // The cookie domain belongs to the authentication server it came with.
  if (Get(kAuthServer).empty()) {
    Set(kAuthServer, kDefaultAuthServer);
    Set(kDomain, kDefaultDomain);
  }
}

std::string CConfig::Get(const std::string& key) const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const auto it = values_.find(key);
  return it == values_.end() ? std::string() : it->second;
}

void CConfig::Set(const std::string& key, const std::string& value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  values_[key] = value;
}

int CConfig::GetProxyFlag() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return proxyFlag_;
}

void CConfig::SetProxyFlag(int on) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  proxyFlag_ = on ? 1 : 0;
}

int CConfig::GetShowNotices() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return showNotices_ < 0 ? 1 : showNotices_;
}

void CConfig::SetShowNotices(int on) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  showNotices_ = on;
}
