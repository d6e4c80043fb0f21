#pragma once
// What the file and the chunk journal share about client.db: the checks and
// log texts of Init and OpenDB, running one statement, and the transaction
// of a batch. Every failure is logged under the calling journal's
// "Class::Method" name, given as `function`.
#include <string>

struct sqlite3;

// Init's checks: an empty `path` logs "Need set config DB file!", a journal
// that already has `current` logs "DB file exist!"; 0 then, 1 when `path`
// may be kept.
int JournalCheckNewPath(const char* function, const std::string& path, const std::string& current);

// OpenDB: "DB file undefined!" without a path, "DB file opened before!" when
// `db` is open, "Could not open database: %s" when SQLite fails.
int JournalOpen(const char* function, const std::string& path, sqlite3*& db);

// Rolls back an unfinished batch, closes, and sets `db` to null.
void JournalClose(sqlite3*& db);

// Runs one statement; an SQLite error is logged at level error as
// "SQL error: %s" and gives 0.
int JournalExec(sqlite3* db, const std::string& sql, const char* function);

// Runs a CREATE TABLE; its error (the table exists) is logged at level info
// as "SQL info: %s" and is no failure.
void JournalCreateTable(sqlite3* db, const std::string& sql, const char* function);

// BEGIN / COMMIT of a batch. A failed COMMIT rolls the batch back and gives 0.
int JournalBegin(sqlite3* db, const char* function);
int JournalCommit(sqlite3* db, const char* function);

// A column value of a result row: "" for SQL NULL.
inline std::string JournalText(const char* value) { return value ? value : ""; }
