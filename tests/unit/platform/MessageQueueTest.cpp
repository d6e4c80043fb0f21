#include "platform/MessageQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Messages.h"

namespace {

TEST(MessageQueueTest, DeliversInPostingOrderWithTheirParameters) {
  CMessageQueue queue;
  queue.Post(WM_WORK_LOGIN, 7, -3);
  queue.Post(WM_WORK_SYNC);
  queue.Post(WM_WORK_CHANGED, 0, 42);
  ASSERT_EQ(queue.Size(), 3u);

  const QueuedMessage first = queue.Get();
  EXPECT_EQ(first.message, WM_WORK_LOGIN);
  EXPECT_EQ(first.wParam, 7u);
  EXPECT_EQ(first.lParam, -3);
  EXPECT_EQ(queue.Get().message, WM_WORK_SYNC);
  QueuedMessage last;
  ASSERT_TRUE(queue.Get(last, 0));
  EXPECT_EQ(last.message, WM_WORK_CHANGED);
  EXPECT_EQ(last.lParam, 42);
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(MessageQueueTest, TimedGetOnAnEmptyQueueGivesUpAndLeavesTheOutput) {
  CMessageQueue queue;
  QueuedMessage out{WM_SHOW_STATUS, 1, 2};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(queue.Get(out, 50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
  EXPECT_EQ(out.message, WM_SHOW_STATUS);
  EXPECT_EQ(out.wParam, 1u);
}

// A receiver blocked in Get wakes for messages posted by other threads, and
// no message of many concurrent posters is lost or reordered per poster.
TEST(MessageQueueTest, BlockedReceiverGetsEveryMessageOfConcurrentPosters) {
  CMessageQueue queue;
  constexpr int kPosters = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&queue, p] {
      for (int i = 0; i < kEach; ++i) queue.Post(WM_WORK_CHANGED, static_cast<uintptr_t>(p), i);
    });
  }
  std::vector<intptr_t> next(kPosters, 0);
  for (int n = 0; n < kPosters * kEach; ++n) {
    const QueuedMessage m = queue.Get();
    ASSERT_LT(m.wParam, static_cast<uintptr_t>(kPosters));
    EXPECT_EQ(m.lParam, next[m.wParam]++);
  }
  for (std::thread& t : posters) t.join();
  EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
