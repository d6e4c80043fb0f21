#include "platform/MessageQueue.h"

void CMessageQueue::Post(unsigned message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({message, wParam, lParam});
  }
  posted_.notify_one();
}

QueuedMessage CMessageQueue::Get() {
  std::unique_lock<std::mutex> lock(mutex_);
  posted_.wait(lock, [this] { return !messages_.empty(); });
  const QueuedMessage first = messages_.front();
  messages_.pop_front();
  return first;
}

bool CMessageQueue::Get(QueuedMessage& out, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!posted_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !messages_.empty(); })) {
    return false;
  }
  out = messages_.front();
  messages_.pop_front();
  return true;
}

std::size_t CMessageQueue::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_.size();
}
