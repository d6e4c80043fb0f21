#include "tests/e2e/engine/ServiceProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

// argv and envp for posix_spawn, kept alive with their strings.
struct Arguments {
  std::vector<std::string> texts;
  std::vector<char*> pointers;
  explicit Arguments(std::vector<std::string> all) : texts(std::move(all)) {
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
  }
  char** get() { return pointers.data(); }
};

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The test's environment with `added` entries replacing those of the same name.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& added) {
  std::vector<std::string> all;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const auto sameName = [&](const std::string& add) { return NameOf(add) == NameOf(text); };
    if (std::none_of(added.begin(), added.end(), sameName)) all.push_back(text);
  }
  all.insert(all.end(), added.begin(), added.end());
  return all;
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* output,
               const std::vector<std::string>& environment) {
  ChildProgram child;
  if (!child.Start(program, args, environment)) return -1;
  const int code = child.Wait();
  if (output) *output = child.Output();
  return code;
}

ChildProgram::~ChildProgram() {
  if (pid_ > 0) {
    Signal(SIGTERM);
    Wait();
  }
}

bool ChildProgram::Spawn(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, posix_spawn_file_actions_t& actions) {
  output_.clear();
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());
  Arguments arguments(argv);
  Arguments environmentBlock(EnvironmentWith(environment));
  const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments.get(), environmentBlock.get());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) pid_ = -1;
  return error == 0;
}

bool ChildProgram::Start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, bool withStderr) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  if (withStderr) posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
  const bool started = Spawn(program, args, environment, actions);
  close(pipeEnds[1]);
  if (!started) {
    close(pipeEnds[0]);
    return false;
  }
  readEnd_ = pipeEnds[0];
  return true;
}

bool ChildProgram::StartToFile(const std::string& program, const std::vector<std::string>& args,
                               const std::vector<std::string>& environment, const std::string& outputPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  return Spawn(program, args, environment, actions);
}

// The program's own high-water mark (VmHWM). The rusage of a waited child
// would not do: its peak counts the memory of the test process that
// started it, since the program began as a copy of it.
void ChildProgram::SamplePeakRss() {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string field;
  long kib = 0;
  while (status >> field) {
    if (field == "VmHWM:" && status >> kib) {
      peakRssKiB_ = std::max(peakRssKiB_, kib);
      return;
    }
  }
}

bool ChildProgram::WaitFor(int timeoutMs, int& code) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pid_ <= 0) {
      code = -1;
      return true;
    }
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, WNOHANG);
    if (ended != 0) {
      pid_ = -1;
      code = ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return true;
    }
    SamplePeakRss();
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProgram::ReadSome(int timeoutMs) {
  if (readEnd_ < 0) return false;
  pollfd ready{readEnd_, POLLIN, 0};
  if (poll(&ready, 1, timeoutMs) != 1) return false;
  char buffer[4096];
  const ssize_t got = read(readEnd_, buffer, sizeof buffer);
  if (got < 0 && errno == EINTR) return true;
  if (got <= 0) {
    close(readEnd_);
    readEnd_ = -1;
    return false;
  }
  output_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

bool ChildProgram::WaitForOutput(const std::string& text, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || !ReadSome(static_cast<int>(left))) return output_.find(text) != std::string::npos;
  }
  return true;
}

void ChildProgram::Signal(int number) {
  if (pid_ > 0) kill(pid_, number);
}

int ChildProgram::Wait() {
  while (ReadSome(-1)) {
  }
  if (pid_ <= 0) return -1;
  int status = 0;
  const pid_t ended = waitpid(pid_, &status, 0);
  pid_ = -1;
  if (ended <= 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ServiceProcess::ServiceProcess(std::string dataFolder) : data_(std::move(dataFolder)) { Admin({"init"}); }

int ServiceProcess::Admin(const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> all = {"--data", data_};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(VESSA_SERVICE_PROGRAM, all, output);
}

bool ServiceProcess::Start(const std::vector<std::string>& serveOptions, int port) {
  std::vector<std::string> args = {"--data", data_, "serve", "--port", std::to_string(port)};
  args.insert(args.end(), serveOptions.begin(), serveOptions.end());
  // Standard error stays the test's: the pipe is read only up to this line.
  if (!server_.Start(VESSA_SERVICE_PROGRAM, args, {}, false) || !server_.WaitForOutput("\n")) return false;
  const std::string& line = server_.Output();
  const std::size_t colon = line.rfind(':');
  if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) return false;
  port_ = std::atoi(line.c_str() + colon + 1);
  return port_ > 0;
}

void ServiceProcess::Stop() {
  server_.Signal(SIGTERM);
  server_.Wait();
}

void ServiceProcess::Kill() {
  server_.Signal(SIGKILL);
  server_.Wait();
}

std::string ServiceProcess::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

long long ServiceProcess::Counter(const std::string& name) {
  std::string text;
  Admin({"stats"}, &text);
  std::istringstream lines(text);
  std::string key;
  long long value = 0;
  while (lines >> key >> value) {
    if (key == name) return value;
  }
  return 0;
}
