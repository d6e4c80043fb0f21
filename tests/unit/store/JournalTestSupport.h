#pragma once
// What the journal tests share: a connection of their own to client.db, to
// see the tables the way another program would, the exact text of a log
// record, and a local code page other than the locale's.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"

class RawDb {
 public:
  explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~RawDb() { sqlite3_close(db_); }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  // Every row of a query, each column as text; SQL NULL reads "-".
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    sqlite3_exec(
        db_, sql.c_str(),
        [](void* out, int columns, char** values, char**) {
          std::vector<std::string> row;
          for (int i = 0; i < columns; ++i) row.push_back(values[i] ? values[i] : "-");
          static_cast<std::vector<std::vector<std::string>>*>(out)->push_back(row);
          return 0;
        },
        &rows, nullptr);
    return rows;
  }

  // The first column of the first row; "<no row>" when there is none.
  std::string Value(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() ? "<no row>" : rows[0][0];
  }

  int Count(const std::string& table) { return std::stoi(Value("SELECT count(*) FROM " + table)); }

  // Returns SQLite's error message, "" on success.
  std::string Exec(const std::string& sql) {
    char* message = nullptr;
    sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
    std::string error = message ? message : "";
    sqlite3_free(message);
    return error;
  }

 private:
  sqlite3* db_ = nullptr;
};

// One log record after its time stamp: "<warn >[Class::Method]: text\r\n".
inline std::string LogLine(int level, const std::string& function, const std::string& text) {
  static const char* const kNames[] = {"off  ", "fatal", "error", "warn ", "info ", "debug", "all  "};
  return std::string("<") + kNames[level] + ">[" + function + "]: " + text + "\r\n";
}

// Holds another local code page (such as "GBK") for one test.
class CodePageOverride {
 public:
  explicit CodePageOverride(const char* name) { platform::SetLocalCodePage(name); }
  ~CodePageOverride() { platform::SetLocalCodePage(""); }
  CodePageOverride(const CodePageOverride&) = delete;
  CodePageOverride& operator=(const CodePageOverride&) = delete;
};
