#pragma once
// The client's settings: text values in memory, persisted as key/value rows of
// `config_table` in client.db. The connection is opened and closed around each
// batch of work. One mutex serialises every use of the connection and of the
// values, so the user-interface and worker threads may share one instance.
#include <map>
#include <mutex>
#include <string>

struct sqlite3;

class CConfig {
 public:
  // Keys of config_table, in load order.
  static constexpr const char* kLoginUser = "login_user";
  static constexpr const char* kLoginPasswd = "login_passwd";  // stored as Base64
  static constexpr const char* kHostId = "host_id";
  static constexpr const char* kInstallPath = "install_path";
  static constexpr const char* kRootPath = "root_path";
  static constexpr const char* kSchemaVersion = "schema_version";
  static constexpr const char* kServerRoot = "server_root";
  static constexpr const char* kLogLevel = "log_level";
  static constexpr const char* kBackServer = "back_server";
  static constexpr const char* kTransmiterServer = "transmiter_server";
  static constexpr const char* kHeartbeatServer = "heartbeat_server";
  static constexpr const char* kHostName = "host_name";
  static constexpr const char* kAuthServer = "auth_server";
  static constexpr const char* kPassport = "passport";
  static constexpr const char* kDomain = "domain";
  static constexpr const char* kProxyType = "proxy_type";
  static constexpr const char* kProxyAddr = "proxy_addr";
  static constexpr const char* kProxyUser = "proxy_user";
  static constexpr const char* kProxyPasswd = "proxy_passwd";
  static constexpr const char* kProxyFlag = "proxy_flag";  // held as an int
  static constexpr const char* kTransferLanes = "transfer_lanes";  // files in flight at once

  // Defaults filled in at start for empty values: the reference service on
  // this machine.
  static constexpr const char* kDefaultSchemaVersion = "1001";
  static constexpr const char* kDefaultLogLevel = "4";
  static constexpr const char* kDefaultBackServer = "http://127.0.0.1:8080/axis2/services/vor_service_bs";
  static constexpr const char* kDefaultTransmiterServer =
      "http://127.0.0.1:8080/axis2/services/vor_service_trs";
  static constexpr const char* kDefaultHeartbeatServer = "http://127.0.0.1:8080/axis2/services/vor_service_hb";
  static constexpr const char* kDefaultAuthServer = "http://127.0.0.1:8080/vorportal/LoginServlet";
  static constexpr const char* kDefaultDomain = ".localhost";

  CConfig() = default;
  ~CConfig();
  CConfig(const CConfig&) = delete;
  CConfig& operator=(const CConfig&) = delete;

  // Remembers the database path; fails when empty or already set.
  int Init(const std::string& dbPath);
  // Opens the connection; fails when no path, already open, or SQLite fails.
  int OpenDB();
  void Close();

  // Direct row access on an open connection. `login_passwd` is Base64 in the
  // table and plain here. GetValueByKey fails quietly when there is no row.
  // SetValueByKey writes nothing when the stored value is already `value`.
  int GetValueByKey(const std::string& key, std::string& value);
  int SetValueByKey(const std::string& key, const std::string& value);

  // Creates the table when missing and reads every row into memory.
  int Load();
  // Writes the 15 general keys / the 5 proxy keys.
  int Store();
  int StoreProxy();

  // Fills empty schema_version, log_level, the three service endpoints and
  // auth_server (with domain) with the defaults above.
  void FillEmptyDefaults();

  // In-memory values (no database access). Unknown keys read as "".
  std::string Get(const std::string& key) const;
  void Set(const std::string& key, const std::string& value);
  int GetProxyFlag() const;
  void SetProxyFlag(int on);
  // Whether balloon notices are shown: on until first set; not persisted.
  int GetShowNotices() const;
  void SetShowNotices(int on);

 private:
  int StoreKeys(const char* function, const char* const* keys, std::size_t count);
  static int LoadRow(void* self, int columns, char** values, char** names);

  mutable std::recursive_mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string dbPath_;
  std::map<std::string, std::string> values_;
  int proxyFlag_ = 0;
  int showNotices_ = -1;  // -1: never set, reads as on
};
