#pragma once
// File times as the client keeps them: 100-ns ticks since 1601-01-01 UTC
// (the FILETIME of the design), converted from and to the nanosecond times of
// the file system.
#include <cstdint>
#include <ctime>

using FileTime = uint64_t;

// Ticks between 1601-01-01 and 1970-01-01.
constexpr FileTime kFileTimeUnixEpoch = 116444736000000000ULL;

FileTime ToFileTime(const timespec& time);
// Times before 1970 are not representable here and give the epoch.
timespec ToTimespec(FileTime time);
