#pragma once
// Small helpers around the SQLite C API shared by the settings store and the
// journals: quoting of values placed in SQL texts, and the result table of a
// query.
#include <string>

struct sqlite3;

// `text` with every single quote doubled, for use between '...' in SQL.
std::string SqlEscape(const std::string& text);

// Creates the database file owner-only (0600) when it does not exist yet and
// opens it in WAL mode. SQLite gives its WAL files the mode of the database.
// Returns null and sets `error` on failure.
sqlite3* SqlOpen(const std::string& path, std::string& error);

// The rows of one query (sqlite3_get_table), freed on destruction.
class CSqlTable {
 public:
  CSqlTable() = default;
  ~CSqlTable();
  CSqlTable(const CSqlTable&) = delete;
  CSqlTable& operator=(const CSqlTable&) = delete;

  // Runs `sql`; false with `error` set when SQLite reports an error.
  bool Run(sqlite3* db, const std::string& sql, std::string& error);

  int Rows() const { return rows_; }
  int Columns() const { return columns_; }
  // Value of a data row (0-based, header excluded); null for SQL NULL.
  const char* At(int row, int column) const;

 private:
  void Free();

  char** result_ = nullptr;
  int rows_ = 0;
  int columns_ = 0;
};
