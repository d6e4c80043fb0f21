#include "service/ServiceDb.h"

#include <unistd.h>

#include <utility>

#include "foundation/Sql.h"

namespace {

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, ha1 TEXT NOT NULL, head_digest TEXT NOT NULL,
  change_seq INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS hosts(
  id TEXT PRIMARY KEY, user_id INTEGER NOT NULL, computer_name TEXT NOT NULL, created INTEGER NOT NULL,
  pending_event INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS passports(
  value TEXT PRIMARY KEY, user_id INTEGER NOT NULL, expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS entries(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, path TEXT NOT NULL, dir INTEGER NOT NULL,
  size INTEGER NOT NULL, mtime INTEGER NOT NULL, version INTEGER NOT NULL, UNIQUE(owner_id, path));
CREATE TABLE IF NOT EXISTS entry_chunks(
  entry_id INTEGER NOT NULL, idx INTEGER NOT NULL, md5 TEXT NOT NULL, key_text TEXT NOT NULL,
  size INTEGER NOT NULL, PRIMARY KEY(entry_id, idx));
CREATE INDEX IF NOT EXISTS entry_chunks_md5 ON entry_chunks(md5);
CREATE TABLE IF NOT EXISTS chunks(
  md5 TEXT PRIMARY KEY, storage_key TEXT NOT NULL UNIQUE, size INTEGER NOT NULL,
  stored INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS uploads(
  id INTEGER PRIMARY KEY, host_id TEXT NOT NULL, owner_id INTEGER NOT NULL, path TEXT NOT NULL,
  size INTEGER NOT NULL, mtime INTEGER NOT NULL, base_version INTEGER NOT NULL,
  UNIQUE(host_id, owner_id, path));
CREATE TABLE IF NOT EXISTS upload_chunks(
  upload_id INTEGER NOT NULL, idx INTEGER NOT NULL, md5 TEXT NOT NULL, key_text TEXT NOT NULL,
  size INTEGER NOT NULL, PRIMARY KEY(upload_id, idx));
CREATE INDEX IF NOT EXISTS upload_chunks_md5 ON upload_chunks(md5);
CREATE TABLE IF NOT EXISTS shares(
  id INTEGER PRIMARY KEY, owner_id INTEGER NOT NULL, folder TEXT NOT NULL, UNIQUE(owner_id, folder));
CREATE TABLE IF NOT EXISTS share_members(
  share_id INTEGER NOT NULL, user_id INTEGER NOT NULL, mount TEXT NOT NULL,
  PRIMARY KEY(share_id, user_id), UNIQUE(user_id, mount));
CREATE TABLE IF NOT EXISTS messages(
  id INTEGER PRIMARY KEY, type INTEGER NOT NULL, create_time INTEGER NOT NULL,
  expire_time INTEGER NOT NULL, info TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
)SQL";

[[noreturn]] void Throw(sqlite3* db, const char* what) {
  throw CDbError(std::string(what) + ": " + sqlite3_errmsg(db), sqlite3_errcode(db) == SQLITE_FULL);
}

}  // namespace

// Enough for every text the service runs; texts beyond it are compiled
// each time rather than kept without bound.
constexpr size_t kMaxPooledTexts = 256;
constexpr size_t kMaxIdlePerText = 4;

CStatementPool::~CStatementPool() { Clear(); }

sqlite3_stmt* CStatementPool::Take(sqlite3* db, const char* sql) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = idle_.find(sql);
    if (found != idle_.end() && !found->second.empty()) {
      sqlite3_stmt* statement = found->second.back();
      found->second.pop_back();
      return statement;
    }
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

void CStatementPool::Give(const char* sql, sqlite3_stmt* statement) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = idle_.find(sql);
  const bool room = found != idle_.end() ? found->second.size() < kMaxIdlePerText : idle_.size() < kMaxPooledTexts;
  if (!room) {
    sqlite3_finalize(statement);
    return;
  }
  idle_[sql].push_back(statement);
}

void CStatementPool::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& [sql, statements] : idle_) {
    for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
  }
  idle_.clear();
}

CStatement::CStatement(CStatementPool& pool, sqlite3* db, const char* sql)
    : db_(db), pool_(&pool), sql_(sql), statement_(pool.Take(db, sql)) {
  if (!statement_) Throw(db, "prepare");
}

CStatement::~CStatement() {
  if (statement_) pool_->Give(sql_, statement_);
}

CStatement::CStatement(CStatement&& other) noexcept
    : db_(other.db_),
      pool_(other.pool_),
      sql_(other.sql_),
      statement_(std::exchange(other.statement_, nullptr)),
      next_(other.next_) {}

CStatement& CStatement::Bind(int64_t value) {
  if (sqlite3_bind_int64(statement_, next_++, value) != SQLITE_OK) Throw(db_, "bind");
  return *this;
}

CStatement& CStatement::Bind(const std::string& value) {
  if (sqlite3_bind_text(statement_, next_++, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    Throw(db_, "bind");
  }
  return *this;
}

bool CStatement::Step() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) return true;
  if (code == SQLITE_DONE) return false;
  Throw(db_, "step");
}

int CStatement::Run() {
  while (Step()) {
  }
  return sqlite3_changes(db_);
}

int64_t CStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

std::string CStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

CServiceDb::~CServiceDb() {
  statements_.Clear();
  sqlite3_close(db_);
}

bool CServiceDb::Open(const std::string& path, bool create, std::string& error) {
  if (!create && ::access(path.c_str(), F_OK) != 0) {
    error = path + " does not exist";
    return false;
  }
  db_ = SqlOpen(path, error);  // owner-only file, WAL, busy time-out
  if (!db_) return false;
  char* message = nullptr;
  if (sqlite3_exec(db_, kSchema, nullptr, nullptr, &message) != SQLITE_OK) {
    error = std::string("cannot create the tables: ") + (message ? message : "");
    sqlite3_free(message);
    return false;
  }
  return true;
}

void CServiceDb::AfterCommit(std::function<void()> action) { afterCommit_.push_back(std::move(action)); }

void CServiceDb::Begin() {
  if (depth_++ == 0 && sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    depth_ = 0;
    Throw(db_, "begin");
  }
}

void CServiceDb::Commit() {
  if (--depth_ > 0) return;
  if (doomed_) {
    doomed_ = false;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    afterCommit_.clear();
    throw CDbError("commit: an inner transaction failed");
  }
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    afterCommit_.clear();
    Throw(db_, "commit");
  }
  std::vector<std::function<void()>> actions;
  actions.swap(afterCommit_);
  for (const auto& action : actions) action();
}

void CServiceDb::Rollback() {
  if (--depth_ > 0) {
    doomed_ = true;
    return;
  }
  doomed_ = false;
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  afterCommit_.clear();
}

CTransaction::CTransaction(CServiceDb& db) : db_(db), lock_(db.Lock()) { db_.Begin(); }

CTransaction::~CTransaction() {
  if (!done_) db_.Rollback();
}

void CTransaction::Commit() {
  done_ = true;
  db_.Commit();
}
