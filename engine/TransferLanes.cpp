#include "engine/TransferLanes.h"

#include <system_error>
#include <utility>

CTransferLanes::CTransferLanes(int count, int64_t memoryBudget, const Prepare& prepare) : budget_(memoryBudget) {
  for (int i = 0; i < count; ++i) {
    auto lane = std::make_unique<Lane>();
    if (!prepare(*lane)) continue;
    lanes_.push_back(std::move(lane));
  }
  for (auto& lane : lanes_) {
    try {
      threads_.emplace_back([this, raw = lane.get()] { LaneLoop(*raw); });
    } catch (const std::system_error&) {
      break;  // the lanes started so far do the work
    }
  }
  lanes_.resize(threads_.size());
}

CTransferLanes::~CTransferLanes() {
  Abort();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  laneWake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void CTransferLanes::Abort() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& lane : lanes_) {
    lane->back.AbortCall();
    lane->transmitter.AbortCall();
  }
}

bool CTransferLanes::HasRoom(int64_t bytes) const {
  if (busy_ >= Count()) return false;
  return busy_ == 0 || bytesInFlight_ + bytes <= budget_;
}

void CTransferLanes::Submit(Job job, int64_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    RunReady(lock);
    if (HasRoom(bytes)) break;
    workerWake_.wait(lock);
  }
  Enqueue(std::move(job), bytes);
}

bool CTransferLanes::TrySubmit(Job job, int64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!HasRoom(bytes)) return false;
  Enqueue(std::move(job), bytes);
  return true;
}

void CTransferLanes::Enqueue(Job job, int64_t bytes) {
  auto slot = std::make_shared<Slot>();
  order_.push_back(slot);
  jobs_.push_back({std::move(job), bytes, std::move(slot)});
  ++busy_;
  bytesInFlight_ += bytes;
  laneWake_.notify_one();
}

void CTransferLanes::Complete(Event completion) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto slot = std::make_shared<Slot>();
  slot->ended = true;
  slot->completion = std::move(completion);
  order_.push_back(std::move(slot));
  RunReady(lock);
}

void CTransferLanes::Post(Event event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  workerWake_.notify_one();
}

std::size_t CTransferLanes::RunEvents() {
  std::unique_lock<std::mutex> lock(mutex_);
  return RunReady(lock);
}

void CTransferLanes::RunUntil(const std::function<bool()>& ready) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    RunReady(lock);
    lock.unlock();
    const bool done = ready();  // worker state only: no lock needed
    lock.lock();
    if (done) return;
    const bool nothingToRun = events_.empty() && (order_.empty() || !order_.front()->ended);
    if (!nothingToRun) continue;
    if (busy_ == 0) return;  // nothing in flight could make it hold
    workerWake_.wait(lock);
  }
}

void CTransferLanes::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    RunReady(lock);
    if (busy_ == 0 && events_.empty() && order_.empty()) return;
    workerWake_.wait(lock);
  }
}

// A job's events are queued before its slot ends, so draining the events
// first runs them before its completion.
std::size_t CTransferLanes::RunReady(std::unique_lock<std::mutex>& lock) {
  std::size_t ran = 0;
  for (;;) {
    Event next;
    if (!events_.empty()) {
      next = std::move(events_.front());
      events_.pop_front();
    } else if (!order_.empty() && order_.front()->ended) {
      next = std::move(order_.front()->completion);
      order_.pop_front();
    } else {
      return ran;
    }
    lock.unlock();
    if (next) next();
    ++ran;
    lock.lock();
  }
}

void CTransferLanes::LaneLoop(Lane& lane) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    laneWake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, nothing left
    Queued queued = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    Event completion = queued.job(lane);
    lock.lock();
    queued.slot->completion = std::move(completion);
    queued.slot->ended = true;
    --busy_;
    bytesInFlight_ -= queued.bytes;
    workerWake_.notify_one();
  }
}
