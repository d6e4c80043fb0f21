#pragma once
// Every waiting time of the client in one place, with the documented defaults.
// Tests shorten them before they start the objects that wait; nothing else in
// the program sleeps for a fixed time.
#include <atomic>

struct Timing {
  std::atomic<int> heartbeatIntervalMs{10000};       // between two heartbeat calls
  std::atomic<int> systemMessageFirstMs{5000};       // first system-message fetch after start
  std::atomic<int> systemMessageIntervalMs{1800000};  // between fetches
  std::atomic<int> systemMessageRetryMs{60000};      // after a failed fetch or a busy worker
  std::atomic<int> systemMessageGapMs{4000};         // between two system-message balloons
  std::atomic<int> authRetryMs{10000};               // between authentication attempts
  std::atomic<int> passPauseMs{1000};                // between two passes of a run
  std::atomic<int> watcherSleepMs{1000};             // between two reads of the folder watcher
};

// The process-wide timing.
Timing& ProcessTiming();
