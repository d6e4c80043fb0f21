#pragma once
// The service's SQLite database, service.db in the data folder: one
// connection shared by every request thread and serialised by one mutex.
// Values are always bound to prepared statements, never spliced into SQL.
// An SQLite failure throws CDbError; the request boundary turns it into
// reason 8 (server database error), or 25 when the disk is full.
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

class CDbError : public std::runtime_error {
 public:
  explicit CDbError(const std::string& what, bool diskFull = false) : std::runtime_error(what), diskFull_(diskFull) {}
  // The database could not grow: its disk (or quota) is full.
  bool DiskFull() const { return diskFull_; }

 private:
  bool diskFull_;
};

// Compiled statements kept for reuse: the same few texts run for every
// request, and compiling them again each time is a large share of a small
// request's cost.
class CStatementPool {
 public:
  CStatementPool() = default;
  ~CStatementPool();
  CStatementPool(const CStatementPool&) = delete;
  CStatementPool& operator=(const CStatementPool&) = delete;

  // An idle compiled statement for `sql`, or a freshly compiled one (null
  // when it does not compile).
  sqlite3_stmt* Take(sqlite3* db, const char* sql);
  // Resets the statement compiled from `sql` and keeps it for the next Take.
  void Give(const char* sql, sqlite3_stmt* statement);
  // Finalizes every idle statement (before the connection closes).
  void Clear();

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<sqlite3_stmt*>> idle_;
};

class CStatement {
 public:
  // Takes a compiled `sql` from the pool and gives it back on destruction;
  // `sql` must outlive the statement.
  CStatement(CStatementPool& pool, sqlite3* db, const char* sql);
  ~CStatement();
  CStatement(CStatement&& other) noexcept;
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;
  CStatement& operator=(CStatement&&) = delete;

  // Binds the next parameter (?1, ?2, ... in call order).
  CStatement& Bind(int64_t value);
  CStatement& Bind(const std::string& value);
  CStatement& Bind(const char* value) { return Bind(std::string(value)); }
  CStatement& Bind(int value) { return Bind(static_cast<int64_t>(value)); }

  // True while a row is available.
  bool Step();
  // Steps to the end; the number of rows changed.
  int Run();

  int64_t Int(int column) const;
  std::string Text(int column) const;

 private:
  sqlite3* db_;
  CStatementPool* pool_;
  const char* sql_;
  sqlite3_stmt* statement_ = nullptr;
  int next_ = 1;
};

class CServiceDb {
 public:
  CServiceDb() = default;
  ~CServiceDb();
  CServiceDb(const CServiceDb&) = delete;
  CServiceDb& operator=(const CServiceDb&) = delete;

  // Opens (creating when `create`) the database and its tables. False with
  // `error` when the file cannot be opened, or is missing and not created.
  bool Open(const std::string& path, bool create, std::string& error);

  // Every use of the connection holds this lock (it is recursive, so one
  // store operation may call another).
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock<std::recursive_mutex>(mutex_); }

  template <typename... Args>
  CStatement Query(const char* sql, const Args&... args) {
    CStatement statement(statements_, db_, sql);
    (statement.Bind(args), ...);
    return statement;
  }
  template <typename... Args>
  int Run(const char* sql, const Args&... args) {
    return Query(sql, args...).Run();
  }
  // The first column of the first row, or `fallback` when there is no row.
  template <typename... Args>
  int64_t IntOr(int64_t fallback, const char* sql, const Args&... args) {
    CStatement statement = Query(sql, args...);
    return statement.Step() ? statement.Int(0) : fallback;
  }
  int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

  // Runs `action` once the outermost transaction commits (file removals
  // that must not happen when the change is rolled back).
  void AfterCommit(std::function<void()> action);

 private:
  friend class CTransaction;
  void Begin();
  void Commit();
  void Rollback();

  sqlite3* db_ = nullptr;
  CStatementPool statements_;
  std::recursive_mutex mutex_;
  int depth_ = 0;
  bool doomed_ = false;  // an inner transaction rolled back: the outer one must too
  std::vector<std::function<void()>> afterCommit_;
};

// A write transaction (BEGIN IMMEDIATE) holding the database lock. Nested
// transactions join the outermost one. Rolled back unless Commit is called.
class CTransaction {
 public:
  explicit CTransaction(CServiceDb& db);
  ~CTransaction();
  CTransaction(const CTransaction&) = delete;
  CTransaction& operator=(const CTransaction&) = delete;
  void Commit();

 private:
  CServiceDb& db_;
  std::unique_lock<std::recursive_mutex> lock_;
  bool done_ = false;
};
