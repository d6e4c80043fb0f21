#pragma once
// Programs as a user runs them: the real vessa-service as a child process
// serving a temporary data folder on an ephemeral loopback port, its
// administration commands, and any program run to its end or stopped by a
// signal.
#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Runs `program` with `args` (and `environment` entries "NAME=value" added
// to the test's own) to its end. Its exit code, or -1 when it could not run
// or was killed; stdout and stderr go to `output`.
int RunProgram(const std::string& program, const std::vector<std::string>& args, std::string* output,
               const std::vector<std::string>& environment = {});

// A program running beside the test, its standard output (and error) read
// as it comes.
class ChildProgram {
 public:
  ChildProgram() = default;
  ~ChildProgram();  // SIGTERM and wait, when still running
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool Start(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {}, bool withStderr = true);
  // Like Start, with standard output and error appended to the file
  // `outputPath` instead (a program that prints much never waits for a
  // reader); Output() stays empty.
  bool StartToFile(const std::string& program, const std::vector<std::string>& args,
                   const std::vector<std::string>& environment, const std::string& outputPath);
  // Waits up to `timeoutMs` for the end: true with the exit code in `code`
  // (-1 when a signal ended it), false while it still runs.
  bool WaitFor(int timeoutMs, int& code);
  // True once the output holds `text`; false at its end or after the timeout.
  bool WaitForOutput(const std::string& text, int timeoutMs = 30000);
  void Signal(int number);
  // Waits for the end: the exit code, -1 when it was killed. The rest of
  // the output is read first.
  int Wait();
  const std::string& Output() const { return output_; }
  // The largest resident size seen while WaitFor waited, in KiB (sampled
  // every few milliseconds).
  long PeakRssKiB() const { return peakRssKiB_; }

 private:
  bool ReadSome(int timeoutMs);
  void SamplePeakRss();
  bool Spawn(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& environment, posix_spawn_file_actions_t& actions);

  pid_t pid_ = -1;
  int readEnd_ = -1;
  std::string output_;
  long peakRssKiB_ = 0;
};

class ServiceProcess {
 public:
  // Initialises the data folder.
  explicit ServiceProcess(std::string dataFolder);
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // `vessa-service --data DIR <args>`; its exit code, its output in `output`.
  int Admin(const std::vector<std::string>& args, std::string* output = nullptr);
  // `serve --port PORT <options>` (0: a free port); true once it says where
  // it listens.
  bool Start(const std::vector<std::string>& serveOptions = {}, int port = 0);
  void Stop();
  // Ends it with SIGKILL, as a crash would.
  void Kill();

  int Port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::string AuthUrl() const { return Url("/vorportal/LoginServlet"); }
  // Where the service keeps a stored chunk.
  std::string ChunkFile(const std::string& storageKey) const { return data_ + "/chunks/" + storageKey; }
  const std::string& DataFolder() const { return data_; }
  // A counter of `stats`; 0 when it has none.
  long long Counter(const std::string& name);

 private:
  std::string data_;
  ChildProgram server_;
  int port_ = 0;
};
