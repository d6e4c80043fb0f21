#include "foundation/Config.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <thread>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace {

// Runs SQL on its own connection, the way another program would see the file.
std::map<std::string, std::string> RawRows(const std::string& dbPath) {
  std::map<std::string, std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open(dbPath.c_str(), &db);
  sqlite3_exec(
      db, "SELECT key, value FROM config_table",
      [](void* out, int, char** values, char**) {
        (*static_cast<std::map<std::string, std::string>*>(out))[values[0]] = values[1] ? values[1] : "<null>";
        return 0;
      },
      &rows, nullptr);
  sqlite3_close(db);
  return rows;
}

void RawExec(const std::string& dbPath, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(dbPath.c_str(), &db);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

int RawCount(const std::string& dbPath, const std::string& table) {
  int count = -1;
  sqlite3* db = nullptr;
  sqlite3_open(dbPath.c_str(), &db);
  sqlite3_exec(
      db, ("SELECT count(*) FROM " + table).c_str(),
      [](void* out, int, char** values, char**) {
        *static_cast<int*>(out) = std::stoi(values[0]);
        return 0;
      },
      &count, nullptr);
  sqlite3_close(db);
  return count;
}

class ConfigTest : public testing::Test {
 protected:
  std::string DbPath() const { return dir_ / "client.db"; }

  // A store opened on the test database, loaded.
  void Open(CConfig& config) {
    ASSERT_EQ(config.Init(DbPath()), 1);
    ASSERT_EQ(config.Load(), 1);
  }

  TempDir dir_;
  LogCapture log_;
};

TEST_F(ConfigTest, FreshDatabaseGetsEveryGeneralKeyWithItsDefault) {
  CConfig config;
  Open(config);
  EXPECT_EQ(config.Get(CConfig::kBackServer), "");
  config.FillEmptyDefaults();
  config.Set(CConfig::kLoginUser, "alice");
  ASSERT_EQ(config.Store(), 1);

  const auto rows = RawRows(DbPath());
  EXPECT_EQ(rows.size(), 15u);
  const std::map<std::string, std::string> expected = {
      {"schema_version", "1001"},
      {"log_level", "4"},
      {"back_server", "http://127.0.0.1:8080/axis2/services/vor_service_bs"},
      {"transmiter_server", "http://127.0.0.1:8080/axis2/services/vor_service_trs"},
      {"heartbeat_server", "http://127.0.0.1:8080/axis2/services/vor_service_hb"},
      {"auth_server", "http://127.0.0.1:8080/vorportal/LoginServlet"},
      {"domain", ".localhost"},
      {"login_user", "alice"},
      {"login_passwd", ""},
      {"host_id", ""},
      {"host_name", ""},
      {"install_path", ""},
      {"root_path", ""},
      {"server_root", ""},
      {"passport", ""},
  };
  EXPECT_EQ(rows, expected);

  struct stat info {};
  ASSERT_EQ(stat(DbPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  CConfig again;
  Open(again);
  EXPECT_EQ(again.Get(CConfig::kLoginUser), "alice");
  EXPECT_EQ(again.Get(CConfig::kHeartbeatServer), expected.at("heartbeat_server"));
}

TEST_F(ConfigTest, DefaultsNeverReplaceGivenValues) {
  CConfig config;
  Open(config);
  config.Set(CConfig::kAuthServer, "http://auth.example/LoginServlet");
  config.Set(CConfig::kDomain, ".example");
  config.Set(CConfig::kLogLevel, "2");
  config.FillEmptyDefaults();
  EXPECT_EQ(config.Get(CConfig::kAuthServer), "http://auth.example/LoginServlet");
  EXPECT_EQ(config.Get(CConfig::kDomain), ".example");
  EXPECT_EQ(config.Get(CConfig::kLogLevel), "2");
  EXPECT_EQ(config.Get(CConfig::kSchemaVersion), "1001");
}

TEST_F(ConfigTest, StoringAnEqualValueWritesNothing) {
  CConfig config;
  Open(config);
  config.Set(CConfig::kHostName, "desk");
  config.Set(CConfig::kLoginPasswd, "secret");
  ASSERT_EQ(config.Store(), 1);
  RawExec(DbPath(),
          "CREATE TABLE writes(n int);"
          "CREATE TRIGGER on_update AFTER UPDATE ON config_table BEGIN INSERT INTO writes VALUES(1); END;"
          "CREATE TRIGGER on_insert AFTER INSERT ON config_table BEGIN INSERT INTO writes VALUES(1); END;");

  ASSERT_EQ(config.Store(), 1);  // every value unchanged, the password included
  EXPECT_EQ(RawCount(DbPath(), "writes"), 0);

  ASSERT_EQ(config.OpenDB(), 1);
  EXPECT_EQ(config.SetValueByKey(CConfig::kHostName, "desk"), 1);
  EXPECT_EQ(RawCount(DbPath(), "writes"), 0);
  EXPECT_EQ(config.SetValueByKey(CConfig::kHostName, "laptop"), 1);
  EXPECT_EQ(config.SetValueByKey("new_key", "x"), 1);
  config.Close();
  EXPECT_EQ(RawCount(DbPath(), "writes"), 2);
  EXPECT_EQ(RawRows(DbPath()).at("host_name"), "laptop");
}

TEST_F(ConfigTest, QuotesInKeysAndValuesRoundTrip) {
  CConfig config;
  Open(config);
  ASSERT_EQ(config.OpenDB(), 1);
  EXPECT_EQ(config.SetValueByKey("it's", "O'Brien's 'folder'"), 1);
  std::string value;
  EXPECT_EQ(config.GetValueByKey("it's", value), 1);
  EXPECT_EQ(value, "O'Brien's 'folder'");
  config.Close();

  config.Set(CConfig::kRootPath, "/home/o'brien/Vessa");
  ASSERT_EQ(config.Store(), 1);
  CConfig again;
  Open(again);
  EXPECT_EQ(again.Get(CConfig::kRootPath), "/home/o'brien/Vessa");
}

TEST_F(ConfigTest, PasswordIsStoredAsBase64AndReadBackPlain) {
  CConfig config;
  Open(config);
  config.Set(CConfig::kLoginPasswd, "pa'ss");
  ASSERT_EQ(config.Store(), 1);
  EXPECT_EQ(RawRows(DbPath()).at("login_passwd"), "cGEnc3M=");

  ASSERT_EQ(config.OpenDB(), 1);
  std::string value;
  EXPECT_EQ(config.GetValueByKey(CConfig::kLoginPasswd, value), 1);
  EXPECT_EQ(value, "pa'ss");
  config.Close();
  CConfig again;
  Open(again);
  EXPECT_EQ(again.Get(CConfig::kLoginPasswd), "pa'ss");

  again.Set(CConfig::kLoginPasswd, "");
  ASSERT_EQ(again.Store(), 1);
  EXPECT_EQ(RawRows(DbPath()).at("login_passwd"), "");
}

TEST_F(ConfigTest, ProxyFlagLoadsOnOnlyForOne) {
  const std::pair<const char*, int> cases[] = {{"1", 1}, {"0", 0}, {"true", 0}, {"", 0}, {"01", 0}, {"yes", 0}};
  for (const auto& [stored, expected] : cases) {
    SCOPED_TRACE(stored);
    TempDir dir;
    CConfig config;
    ASSERT_EQ(config.Init(dir / "client.db"), 1);
    ASSERT_EQ(config.Load(), 1);
    RawExec(dir / "client.db", std::string("INSERT INTO config_table(key, value) VALUES('proxy_flag', '") +
                                   stored + "');");
    CConfig loaded;
    ASSERT_EQ(loaded.Init(dir / "client.db"), 1);
    ASSERT_EQ(loaded.Load(), 1);
    EXPECT_EQ(loaded.GetProxyFlag(), expected);
  }
}

TEST_F(ConfigTest, StoreProxyWritesTheFiveProxyKeys) {
  CConfig config;
  Open(config);
  config.Set(CConfig::kProxyType, "HTTP");
  config.Set(CConfig::kProxyAddr, "proxy:3128");
  config.Set(CConfig::kProxyUser, "bob");
  config.Set(CConfig::kProxyPasswd, "plain");
  config.SetProxyFlag(1);
  config.Set(CConfig::kLoginUser, "not-written-by-StoreProxy");
  ASSERT_EQ(config.StoreProxy(), 1);
  const std::map<std::string, std::string> expected = {
      {"proxy_type", "HTTP"}, {"proxy_addr", "proxy:3128"}, {"proxy_user", "bob"},
      {"proxy_passwd", "plain"}, {"proxy_flag", "1"}};
  EXPECT_EQ(RawRows(DbPath()), expected);

  config.SetProxyFlag(0);
  ASSERT_EQ(config.StoreProxy(), 1);
  EXPECT_EQ(RawRows(DbPath()).at("proxy_flag"), "0");
}

TEST_F(ConfigTest, LoadIgnoresUnknownKeys) {
  CConfig config;
  Open(config);
  RawExec(DbPath(), "INSERT INTO config_table(key, value) VALUES('colour', 'blue'), ('passport', 'P-1');");
  CConfig loaded;
  Open(loaded);
  EXPECT_EQ(loaded.Get("colour"), "");
  EXPECT_EQ(loaded.Get(CConfig::kPassport), "P-1");
}

TEST_F(ConfigTest, MisuseFailsWithItsMessage) {
  CConfig config;
  std::string value;
  EXPECT_EQ(config.OpenDB(), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::OpenDB]: {CConfig::OpenDB} DB file undefined!\r\n"));
  EXPECT_EQ(config.Store(), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::Store]: {CConfig::Store} DB file undefined!\r\n"));
  EXPECT_EQ(config.StoreProxy(), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::StoreProxy]: {CConfig::Store} DB file undefined!\r\n"));
  EXPECT_EQ(config.Init(""), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::Init]: {CConfig::Init} Need set config DB file!\r\n"));

  ASSERT_EQ(config.Init(DbPath()), 1);
  EXPECT_EQ(config.Init(DbPath()), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::Init]: {CConfig::Init} DB file exist!\r\n"));

  EXPECT_EQ(config.GetValueByKey("login_user", value), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::GetValueByKey]: {CConfig::GetValuebyKey} DB is not open!\r\n"));
  EXPECT_EQ(config.SetValueByKey("login_user", "x"), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::SetValueByKey]: {CConfig::SetValuebyKey} DB is not open!\r\n"));

  ASSERT_EQ(config.OpenDB(), 1);
  EXPECT_EQ(config.OpenDB(), 0);
  EXPECT_TRUE(log_.Contains("<error>[CConfig::OpenDB]: {CConfig::OpenDB} DB file opened before!\r\n"));
  // No table yet: the query fails with SQLite's reason.
  EXPECT_EQ(config.GetValueByKey("login_user", value), 0);
  EXPECT_TRUE(log_.Contains("{CConfig::GetValueByKey} SQL error: no such table: config_table\r\n"));
  EXPECT_EQ(config.SetValueByKey("login_user", "x"), 0);
  EXPECT_TRUE(log_.Contains("{CConfig::SetValueByKey} SQL error: no such table: config_table\r\n"));
  config.Close();
}

TEST_F(ConfigTest, MissingRowFailsWithoutALogLine) {
  CConfig config;
  Open(config);
  const std::string before = log_.Text();
  ASSERT_EQ(config.OpenDB(), 1);
  std::string value = "untouched";
  EXPECT_EQ(config.GetValueByKey("host_id", value), 0);
  EXPECT_EQ(value, "untouched");
  config.Close();
  EXPECT_EQ(log_.Text(), before);
}

TEST_F(ConfigTest, UnopenableDatabaseIsReported) {
  CConfig config;
  ASSERT_EQ(config.Init(dir_ / "missing-folder/client.db"), 1);
  EXPECT_EQ(config.Load(), 0);
  EXPECT_TRUE(log_.Contains("{CConfig::OpenDB} Could not open database: unable to open database file\r\n"));
}

TEST_F(ConfigTest, SecondLoadLogsTheExistingTableAtInfo) {
  CConfig config;
  Open(config);
  CConfig again;
  Open(again);
  EXPECT_TRUE(log_.Contains("<info >[CConfig::Load]: {CConfig::Load} SQL info: table config_table already exists\r\n"));
}

TEST_F(ConfigTest, ShowNoticesIsOnUntilSetAndNotPersisted) {
  CConfig config;
  Open(config);
  EXPECT_EQ(config.GetShowNotices(), 1);
  config.SetShowNotices(0);
  EXPECT_EQ(config.GetShowNotices(), 0);
  ASSERT_EQ(config.Store(), 1);
  ASSERT_EQ(config.StoreProxy(), 1);
  CConfig again;
  Open(again);
  EXPECT_EQ(again.GetShowNotices(), 1);
}

// The worker stores while the user-interface thread reads and writes values:
// every operation must see a consistent connection and value table.
TEST_F(ConfigTest, TwoThreadsShareOneStore) {
  CConfig config;
  Open(config);
  std::thread worker([&] {
    for (int i = 0; i < 100; ++i) {
      config.Set(CConfig::kServerRoot, "root" + std::to_string(i));
      EXPECT_EQ(config.Store(), 1);
    }
  });
  for (int i = 0; i < 100; ++i) {
    config.Set(CConfig::kProxyAddr, "proxy:" + std::to_string(i));
    EXPECT_EQ(config.StoreProxy(), 1);
  }
  worker.join();
  const auto rows = RawRows(DbPath());
  EXPECT_EQ(rows.at("server_root"), "root99");
  EXPECT_EQ(rows.at("proxy_addr"), "proxy:99");
}

}  // namespace
