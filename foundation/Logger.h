#pragma once
// The diagnostic log: one file per program start, records of the form
//   [YYYY/MM/DD hh:mm:ss:mmm]<level>[Class::Method]: message\r\n
// filtered by a threshold level. Safe to call from any thread.
#include <atomic>
#include <mutex>
#include <string>

class CLogger {
 public:
  enum Level { kOff = 0, kFatal = 1, kError = 2, kWarn = 3, kInfo = 4, kDebug = 5, kAll = 6 };

  CLogger() = default;
  ~CLogger();  // appends the closing separator line
  CLogger(const CLogger&) = delete;
  CLogger& operator=(const CLogger&) = delete;

  // Opens or creates `path` (mode 0600) without truncating it and appends the
  // opening separator line. Returns 1 on success; on failure 0, with the
  // system's reason in LastError() (also printed to standard error).
  int Open(const std::string& path);

  // Writes one record when level <= the threshold. `message` is written as is.
  void Log(int level, const std::string& function, const std::string& message);

  // Threshold n when 0 <= n <= 6, otherwise 6 ("all").
  void SetLevel(int level);
  // Empty text: 6; otherwise the leading decimal number (atoi rules, so text
  // without a number gives 0).
  void SetLevel(const std::string& level);
  int GetLevel() const;

  const std::string& FileName() const { return fileName_; }
  const std::string& LastError() const { return lastError_; }

 private:
  void WriteRaw(const std::string& bytes);  // callers hold mutex_

  mutable std::mutex mutex_;
  int fd_ = -1;
  std::atomic<int> level_{kAll};
  std::string fileName_;
  std::string lastError_;
};

// The application's logger, or null when none is open. Components log through
// the functions below, which drop the record when there is no logger. The
// logger must outlive every thread that logs.
CLogger* AppLogger();
void SetAppLogger(CLogger* logger);

void LogText(int level, const char* function, const std::string& message);
void LogF(int level, const char* function, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
