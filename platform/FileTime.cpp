#include "platform/FileTime.h"

FileTime ToFileTime(const timespec& time) {
  if (time.tv_sec < 0) return kFileTimeUnixEpoch;
  return kFileTimeUnixEpoch + static_cast<FileTime>(time.tv_sec) * 10000000ULL +
         static_cast<FileTime>(time.tv_nsec) / 100;
}

timespec ToTimespec(FileTime time) {
  timespec result{};
  if (time <= kFileTimeUnixEpoch) return result;
  const FileTime ticks = time - kFileTimeUnixEpoch;
  result.tv_sec = static_cast<time_t>(ticks / 10000000ULL);
  result.tv_nsec = static_cast<long>((ticks % 10000000ULL) * 100);
  return result;
}
