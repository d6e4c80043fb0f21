#pragma once
// Lanes that carry files to and from the service beside the worker thread.
// Each lane is a long-lived thread with service clients of its own (its own
// connection and request count), so several files travel at once while the
// worker stays the only writer of the journals and of the user folder's
// final names: a job on a lane posts what must be recorded as events, and
// only the worker runs them.
//
//   worker                         lane
//   Submit(job) ------------------> job(lane): calls the service
//   RunEvents() <- Post(event) ---- (events of one job run in posting order)
//   RunEvents() <- its completion - the job's return value, run in the order
//                                   the jobs were submitted
//
// A job holds memory for its file; Submit waits while the jobs in flight
// hold more than the budget (one job always fits), and while every lane is
// busy. Abort (any thread) ends the calls in flight; the destructor aborts,
// waits for the lanes and drops what was never run.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/WorkInternal.h"

// A lane's own service clients.
struct CTransferLane {
  CWorkBack back;
  CWorkTransmitter transmitter;
};

class CTransferLanes {
 public:
  using Lane = CTransferLane;
  using Event = std::function<void()>;
  using Job = std::function<Event(Lane&)>;
  // Sets a lane's clients up, on the constructing thread; false: no lane.
  using Prepare = std::function<bool(Lane&)>;

  CTransferLanes(int count, int64_t memoryBudget, const Prepare& prepare);
  ~CTransferLanes();
  CTransferLanes(const CTransferLanes&) = delete;
  CTransferLanes& operator=(const CTransferLanes&) = delete;

  // The lanes that could be set up; 0 when none (the caller works alone).
  int Count() const { return static_cast<int>(lanes_.size()); }

  // Worker: hands `job` to a lane, counting `bytes` against the budget until
  // it ends. Events and completions run while it waits for room.
  void Submit(Job job, int64_t bytes);
  // Worker: Submit without waiting; false, and nothing queued, when there is
  // no room now.
  bool TrySubmit(Job job, int64_t bytes);
  // Worker: an entry finished without a lane, completed in submission order.
  void Complete(Event completion);
  // Lane: an event for the worker.
  void Post(Event event);
  // Worker: runs the events and ready completions; how many ran.
  std::size_t RunEvents();
  // Worker: runs events and completions until `ready` holds or nothing is
  // left in flight.
  void RunUntil(const std::function<bool()>& ready);
  // Worker: waits until every job has ended and everything has run.
  void Finish();
  // Any thread: ends the calls in flight and every later one.
  void Abort();

 private:
  struct Slot {
    bool ended = false;
    Event completion;
  };
  struct Queued {
    Job job;
    int64_t bytes;
    std::shared_ptr<Slot> slot;
  };
  void LaneLoop(Lane& lane);
  // With the lock held: whether a job of `bytes` may start now.
  bool HasRoom(int64_t bytes) const;
  void Enqueue(Job job, int64_t bytes);
  std::size_t RunReady(std::unique_lock<std::mutex>& lock);

  const int64_t budget_;
  std::vector<std::unique_ptr<Lane>> lanes_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable laneWake_;    // a job is queued, or the lanes end
  std::condition_variable workerWake_;  // an event, a job's end
  std::deque<Queued> jobs_;             // submitted, not yet taken by a lane
  std::deque<Event> events_;
  std::deque<std::shared_ptr<Slot>> order_;  // every entry not yet completed, in submission order
  int busy_ = 0;                             // jobs queued or running
  int64_t bytesInFlight_ = 0;
  bool stopping_ = false;
};
