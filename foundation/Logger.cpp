#include "foundation/Logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/Format.h"

namespace {

const char* const kLevelNames[] = {"off ", "fatal", "error", "warn ", "info ", "debug", "all  "};

std::string SeparatorLine(char c) { return "\r\n" + std::string(80, c) + "\r\n"; }

std::string RecordPrefix(int level, const std::string& function) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return StrFormat("[%4u/%02u/%02u %02u:%02u:%02u:%03u]<%s>[%s]: ",
                   static_cast<unsigned>(local.tm_year + 1900), static_cast<unsigned>(local.tm_mon + 1),
                   static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_hour),
                   static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec),
                   static_cast<unsigned>(now.tv_nsec / 1000000), kLevelNames[level], function.c_str());
}

std::atomic<CLogger*> appLogger{nullptr};

}  // namespace

CLogger::~CLogger() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ < 0) return;
  WriteRaw(SeparatorLine('-'));
  ::close(fd_);
}

int CLogger::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  fileName_ = path;
  if (fd_ >= 0) ::close(fd_);
  // O_APPEND makes each record's seek-to-end and write one step, so records
  // from another process sharing the file land after ours, never over them.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd_ >= 0) {
    const std::string separator = SeparatorLine('+');
    if (::write(fd_, separator.data(), separator.size()) == static_cast<ssize_t>(separator.size())) {
      lastError_.clear();
      return 1;
    }
    ::close(fd_);
    fd_ = -1;
  }
  lastError_ = StrFormat("%s: %s", path.c_str(), std::strerror(errno));
  std::fprintf(stderr, "%s\n", lastError_.c_str());
  return 0;
}

void CLogger::Log(int level, const std::string& function, const std::string& message) {
  if (level < 0 || level > level_.load()) return;
  std::string record = RecordPrefix(level, function);
  record += message;
  record += "\r\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) WriteRaw(record);
}

void CLogger::WriteRaw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // write failures after a successful open are not reported
    done += static_cast<size_t>(n);
  }
}

void CLogger::SetLevel(int level) {
  level_ = static_cast<unsigned>(level) <= kAll ? level : kAll;
}

void CLogger::SetLevel(const std::string& level) {
  SetLevel(level.empty() ? static_cast<int>(kAll) : std::atoi(level.c_str()));
}

int CLogger::GetLevel() const { return level_.load(); }

CLogger* AppLogger() { return appLogger.load(); }

void SetAppLogger(CLogger* logger) { appLogger.store(logger); }

void LogText(int level, const char* function, const std::string& message) {
  if (CLogger* logger = AppLogger()) logger->Log(level, function, message);
}

void LogF(int level, const char* function, const char* format, ...) {
  CLogger* logger = AppLogger();
  if (!logger || level < 0 || level > logger->GetLevel()) return;
  va_list args;
  va_start(args, format);
  const std::string message = StrFormatV(format, args);
  va_end(args);
  logger->Log(level, function, message);
}
