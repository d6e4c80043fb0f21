#include "platform/DesktopOpen.h"

#include <spawn.h>
#include <sys/wait.h>

#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

namespace {

constexpr const char* kOpener = "xdg-open";

// Collects the child's exit status so that it leaves no zombie; the handler
// may run for as long as the user keeps a browser open.
void ReapLater(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread: the child stays a zombie until this process ends.
  }
}

}  // namespace

bool OpenWithDesktop(const std::string& target) {
  std::string program = kOpener;
  std::string argument = target;
  std::vector<char*> argv = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, kOpener, nullptr, nullptr, argv.data(), environ) != 0) return false;
  ReapLater(pid);
  return true;
}

}  // namespace platform
