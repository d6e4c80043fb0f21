#include "store/JournalDb.h"

#include <sqlite3.h>

#include "foundation/Logger.h"
#include "foundation/Sql.h"

namespace {

// sqlite3_exec; on failure `error` holds SQLite's message.
bool Run(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

bool InTransaction(sqlite3* db) { return db && sqlite3_get_autocommit(db) == 0; }

}  // namespace

int JournalCheckNewPath(const char* function, const std::string& path, const std::string& current) {
  if (path.empty()) {
    LogText(CLogger::kError, function, "Need set config DB file!");
    return 0;
  }
  if (!current.empty()) {
    LogText(CLogger::kError, function, "DB file exist!");
    return 0;
  }
  return 1;
}

int JournalOpen(const char* function, const std::string& path, sqlite3*& db) {
  if (path.empty()) {
    LogText(CLogger::kError, function, "DB file undefined!");
    return 0;
  }
  if (db) {
    LogText(CLogger::kError, function, "DB file opened before!");
    return 0;
  }
  std::string error;
  db = SqlOpen(path, error);
  if (!db) {
    LogText(CLogger::kError, function, "Could not open database: " + error);
    return 0;
  }
  return 1;
}

void JournalClose(sqlite3*& db) {
  if (InTransaction(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  db = nullptr;
}

int JournalExec(sqlite3* db, const std::string& sql, const char* function) {
  std::string error;
  if (Run(db, sql, error)) return 1;
  LogText(CLogger::kError, function, "SQL error: " + error);
  return 0;
}

void JournalCreateTable(sqlite3* db, const std::string& sql, const char* function) {
  std::string error;
  if (!Run(db, sql, error)) LogText(CLogger::kInfo, function, "SQL info: " + error);
}

int JournalBegin(sqlite3* db, const char* function) { return JournalExec(db, "BEGIN", function); }

int JournalCommit(sqlite3* db, const char* function) {
  if (JournalExec(db, "COMMIT", function)) return 1;
  // A failed COMMIT may leave the transaction open (SQLITE_BUSY); the rows of
  // the batch must not linger to be committed by a later statement.
  if (InTransaction(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return 0;
}
