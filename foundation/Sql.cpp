#include "foundation/Sql.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

std::string SqlEscape(const std::string& text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted;
}

sqlite3* SqlOpen(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    // WAL: the journals write many small transactions, and readers never
    // block the writer. NORMAL sync is safe in WAL mode (no corruption; at
    // worst the last commits are lost on power failure). Connections of
    // other threads wait for each other instead of failing at once.
    sqlite3_busy_timeout(db, 10000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    return db;
  }
  error = db ? sqlite3_errmsg(db) : "out of memory";
  sqlite3_close(db);
  return nullptr;
}

CSqlTable::~CSqlTable() { Free(); }

void CSqlTable::Free() {
  if (result_) sqlite3_free_table(result_);
  result_ = nullptr;
  rows_ = columns_ = 0;
}

bool CSqlTable::Run(sqlite3* db, const std::string& sql, std::string& error) {
  Free();
  char* message = nullptr;
  if (sqlite3_get_table(db, sql.c_str(), &result_, &rows_, &columns_, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  Free();
  return false;
}

const char* CSqlTable::At(int row, int column) const {
  if (!result_ || row < 0 || row >= rows_ || column < 0 || column >= columns_) return nullptr;
  return result_[(row + 1) * columns_ + column];
}
