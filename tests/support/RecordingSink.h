#pragma once
// The engine's user interface for tests: records every notice as the line
// vessa-sync would print ("status: ...", "tray: 1 alice", "balloon: T: X",
// "message: ...", "icon: ..."), every posted answer and every question, and
// lets a test wait for them. Questions are answered from `answerOk`. An
// optional hook sees each notice on the sending thread, before it is recorded.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/NoticeSink.h"
#include "platform/UserPrompt.h"

class RecordingSink : public INoticeSink, public IUserPrompt {
 public:
  struct Posted {
    uintptr_t window = 0;
    unsigned message = 0;
    uintptr_t wParam = 0;
  };

  std::function<void(const Notice&)> onSend;
  bool answerOk = true;

  void Send(const Notice& notice) override {
    if (onSend) onSend(notice);
    switch (notice.id) {
      case WM_SHOW_STATUS: Record("status: " + notice.text); break;
      case WM_SET_TRAY_STATE: Record("tray: " + std::to_string(notice.state) + " " + notice.text); break;
      case WM_SHOW_BALLOON: Record("balloon: " + notice.title + ": " + notice.text); break;
      case WM_SETMESSAGESTRING: Record("message: " + notice.text); break;
      default: Record("unknown notice " + std::to_string(notice.id)); break;
    }
  }
  void ShowLoggedInIcon(const std::string& user) override { Record("icon: logged in " + user); }
  void ShowLoggedOutIcon() override { Record("icon: logged out"); }
  void Post(uintptr_t window, unsigned message, uintptr_t wParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back({window, message, wParam});
    changed_.notify_all();
  }
  bool AskOkCancel(const std::string& text) override {
    Record("question: " + text);
    return answerOk;
  }
  void ShowError(const std::string& text) override { Record("error: " + text); }

  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  std::vector<Posted> PostedAnswers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  std::size_t Count(const std::string& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
  }

  // True once `line` has been recorded `times` times; false after the timeout.
  bool WaitForLine(const std::string& line, std::size_t times = 1, int timeoutMs = 30000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line)) >= times;
    });
  }
  // The wParam of the answer `message` to `window` that follows the first
  // `earlier` ones; -1 after the timeout.
  long WaitForPost(uintptr_t window, unsigned message, int timeoutMs = 30000, std::size_t earlier = 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    long wParam = -1;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      std::size_t seen = 0;
      for (const Posted& posted : posted_) {
        if (posted.window != window || posted.message != message) continue;
        if (seen++ == earlier) {
          wParam = static_cast<long>(posted.wParam);
          return true;
        }
      }
      return false;
    });
    return wParam;
  }
  std::size_t CountPosts(uintptr_t window, unsigned message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(std::count_if(posted_.begin(), posted_.end(), [&](const Posted& posted) {
      return posted.window == window && posted.message == message;
    }));
  }
  // The end of a synchronisation run: the first tray state other than 1
  // after the `run`-th run began (runs counted from 1, a run's repeated
  // passes not counted). The state (0 or 2), or -1 after the timeout.
  int WaitForRunEnd(std::size_t run = 1, int timeoutMs = 60000) {
    std::unique_lock<std::mutex> lock(mutex_);
    int state = -1;
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      const std::vector<int> ends = RunEnds(nullptr);
      if (ends.size() < run) return false;
      state = ends[run - 1];
      return true;
    });
    return state;
  }
  // How many runs have begun so far.
  std::size_t RunsStarted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t started = 0;
    RunEnds(&started);
    return started;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
    posted_.clear();
  }

 private:
  // The final tray state of every run that has ended; callers hold mutex_.
  std::vector<int> RunEnds(std::size_t* started) const {
    std::vector<int> ends;
    std::size_t begun = 0;
    bool inRun = false;
    for (const std::string& line : lines_) {
      if (line.rfind("tray: ", 0) != 0 || line.size() < 7) continue;
      const int state = line[6] - '0';
      if (state == 1) {
        if (!inRun) ++begun;
        inRun = true;
      } else if (inRun) {
        inRun = false;
        ends.push_back(state);
      }
    }
    if (started) *started = begun;
    return ends;
  }

  void Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<Posted> posted_;
};
