#pragma once
// Stands in for the desktop's xdg-open while it lives: a script of that name
// in a temporary folder put first in PATH, which records each call as one
// line "[arg1][arg2]...". The real opener is never started by a test.
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

class FakeOpener {
 public:
  FakeOpener() {
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "";
    const std::string script = dir_ / "xdg-open";
    WriteFile(script,
              "#!/bin/sh\n"
              "line=\n"
              "for a in \"$@\"; do line=\"$line[$a]\"; done\n"
              "printf '%s\\n' \"$line\" >> '" + Log() + "'\n");
    chmod(script.c_str(), 0700);
    setenv("PATH", (dir_.path() + ":" + oldPath_).c_str(), 1);
  }
  ~FakeOpener() { setenv("PATH", oldPath_.c_str(), 1); }
  FakeOpener(const FakeOpener&) = delete;
  FakeOpener& operator=(const FakeOpener&) = delete;

  // The calls recorded so far, in the order they arrived (openers started
  // one after another may still finish in any order).
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(Log()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The calls once there are at least `count` of them (or after `timeoutMs`).
  std::vector<std::string> WaitForCalls(std::size_t count, int timeoutMs = 5000) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<std::string> calls = Calls();
    while (calls.size() < count && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      calls = Calls();
    }
    return calls;
  }

 private:
  std::string Log() const { return dir_ / "calls.log"; }

  TempDir dir_;
  std::string oldPath_;
};
