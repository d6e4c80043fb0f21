#pragma once
// The heartbeat: a thread that asks the heartbeat server at every interval
// (ProcessTiming().heartbeatIntervalMs, 10 s) whether something changed for
// the account, and posts WM_WORK_CHANGED to the worker when the worker should
// run:
//   beat answered "yes"                        -> notice
//   beat answered otherwise, last run unfinished -> notice (try again)
//   beat failed, last run finished, not stopping -> notice (meet the failure)
//   otherwise                                   -> nothing
#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>

#include "platform/MessageQueue.h"
#include "protocol/SoapFrame.h"

class CHeartBeat : public CSoapFrame {
 public:
  CHeartBeat();

  // Stores the values (the password in digest form), makes the client ready
  // and starts the thread, which posts to `worker` (may be null: no notices).
  // 1 when the thread runs. From then on the thread owns the object: the
  // caller ends it with Stop() and never deletes it; the thread deletes it.
  int Init(CMessageQueue* worker, const std::string& endpoint, const std::string& user,
           const std::string& password, const std::string& hostId, const std::string& installFolder);

  // The worker's sync-OK flag after a pass failed (0) or a run ended (its
  // final value). Until the first write the last run counts as finished.
  void SetSyncOk(int ok) { lastRunOk_ = ok; }

  // Ends the heartbeat: the wait or the call in flight ends at once, no
  // notice follows for it, and the thread deletes the object. Returns 1.
  int Stop();

  // Becomes ready once the thread has deleted the object (take it before
  // Stop; once only).
  std::future<void> ThreadEnded() { return ended_.get_future(); }

  // One heartbeat call: 1 with the answer's new_event value in `answer`.
  int Beat(std::string& answer);
  pugi::xml_node BuildOmRequest(pugi::xml_document& document);
  int ParseOmResponse(pugi::xml_node response, std::string& text);

 private:
  static void HeartThreadProc(CHeartBeat* self);
  void Run();
  bool WaitInterval();  // false when a stop came during the wait
  void Notify();

  static constexpr int kRunning = 2;
  static constexpr int kStopRequested = 0;
  static constexpr int kStopped = 1;

  std::atomic<int> state_{kStopRequested};
  std::atomic<int> lastRunOk_{1};
  CMessageQueue* worker_ = nullptr;
  std::mutex mutex_;  // Stop against the thread's wait and its end
  std::condition_variable wake_;
  std::promise<void> ended_;
};
