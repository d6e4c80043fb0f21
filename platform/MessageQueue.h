#pragma once
// A thread's message queue: any thread posts {message, wParam, lParam}
// records, the owning thread takes them in order. Post never waits for the
// receiver; the queue grows as needed.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

struct QueuedMessage {
  unsigned message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class CMessageQueue {
 public:
  CMessageQueue() = default;
  CMessageQueue(const CMessageQueue&) = delete;
  CMessageQueue& operator=(const CMessageQueue&) = delete;

  void Post(unsigned message, uintptr_t wParam = 0, intptr_t lParam = 0);

  // Takes the oldest message, waiting as long as the queue is empty.
  QueuedMessage Get();
  // The same, waiting at most `timeoutMs`; false (out untouched) when none came.
  bool Get(QueuedMessage& out, int timeoutMs);

  std::size_t Size() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<QueuedMessage> messages_;
};
