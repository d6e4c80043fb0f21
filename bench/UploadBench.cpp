// The first upload of a 1 GiB tree (1 000 small files of 1 to 447 KiB, four
// files of 200 MiB), side by side:
//   vessa   vessa-sync --once (a child process, with a HOME of its own) into
//           an empty account of vessa-service, both on loopback; the client's
//           peak resident memory (VmHWM, from the child's rusage) is reported
//   rsync   rsync -a of the same tree to an rsync daemon on loopback; and
//           once more with --fsync, since vessa-service flushes every chunk
//           to the disk before it confirms it
// Each iteration starts from an empty service, an empty client journal and
// an empty rsync destination. The manual time is vessa's; the counters give
// both times, their ratio, the client's peak memory, and the processor time
// the whole machine spent while each ran (service, daemon and clients alike,
// in core-seconds): on two cores a run cannot take less wall time than half
// of that, which shows how far concurrency alone could go.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/engine/ServiceProcess.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench-pw";
constexpr int kSmallFiles = 1000;
constexpr std::size_t kSmallMax = 447 * 1024;
constexpr int kLargeFiles = 4;
constexpr std::size_t kLargeSize = 200u * 1024 * 1024;

void WriteRandomFile(const std::string& path, std::size_t size, std::mt19937_64& random) {
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  std::ofstream out(path, std::ios::binary);
  for (std::size_t left = size; left > 0;) {
    for (uint64_t& word : block) word = random();
    const std::size_t piece = std::min(left, block.size() * sizeof(uint64_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(piece));
    left -= piece;
  }
}

// The tree: small files in 20 folders, the large ones beside them.
bool MakeTree(const std::string& folder) {
  std::mt19937_64 random(42);
  for (int i = 0; i < kSmallFiles; ++i) {
    const std::string sub = folder + "/small/d" + std::to_string(i % 20);
    fs::create_directories(sub);
    WriteRandomFile(sub + "/f" + std::to_string(i) + ".dat", 1024 + random() % (kSmallMax - 1024), random);
  }
  fs::create_directories(folder + "/large");
  for (int i = 0; i < kLargeFiles; ++i) WriteRandomFile(folder + "/large/big" + std::to_string(i), kLargeSize, random);
  return fs::exists(folder + "/large/big" + std::to_string(kLargeFiles - 1));
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

struct Finished {
  int status = -1;
  double seconds = 0;
  double busyCoreSeconds = 0;  // of every process on the machine
  long peakKiB = 0;            // ru_maxrss: the child's VmHWM
};

// Processor time spent by the whole machine since boot, in core-seconds
// (the first line of /proc/stat, idle and waiting left out).
double BusyCoreSeconds() {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
  return static_cast<double>(user + nice + system + irq + softirq + steal) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs a program to its end with `added` environment entries, output dropped.
Finished Run(const std::vector<std::string>& argv, const std::vector<std::string>& added = {}) {
  std::vector<std::string> environment = added;
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<char*> env;
  for (const std::string& entry : environment) env.push_back(const_cast<char*>(entry.c_str()));
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Finished finished;
  const double busyBefore = BusyCoreSeconds();
  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return finished;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return finished;
  finished.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  finished.busyCoreSeconds = BusyCoreSeconds() - busyBefore;
  finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  finished.peakKiB = usage.ru_maxrss;
  return finished;
}

// An rsync daemon serving one writable module, a child of this program.
class RsyncDaemon {
 public:
  explicit RsyncDaemon(const std::string& folder) : destination_(folder + "/destination") {
    fs::create_directories(destination_);
    port_ = FreePort();
    const std::string config = folder + "/rsyncd.conf";
    std::ofstream(config) << "use chroot = no\nuid = " << getuid() << "\ngid = " << getgid()
                          << "\n[bench]\n  path = " << destination_ << "\n  read only = no\n";
    const std::string portText = "--port=" + std::to_string(port_);
    const std::string configText = "--config=" + config;
    char* argv[] = {const_cast<char*>("rsync"), const_cast<char*>("--daemon"), const_cast<char*>("--no-detach"),
                    const_cast<char*>(configText.c_str()), const_cast<char*>(portText.c_str()), nullptr};
    if (posix_spawnp(&pid_, "rsync", nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    for (int i = 0; i < 100 && pid_ > 0 && !Accepts(port_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~RsyncDaemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return pid_ > 0 && Accepts(port_); }
  std::string Url() const { return "rsync://127.0.0.1:" + std::to_string(port_) + "/bench/"; }
  void Empty() const {
    fs::remove_all(destination_);
    fs::create_directories(destination_);
  }

 private:
  std::string destination_;
  int port_ = 0;
  pid_t pid_ = -1;
};

struct Setup {
  TempDir folder{"vessa-upload-bench"};
  std::string root = folder.path() + "/client";
  std::string tree = root + "/" + kUser;  // the client's user folder, also rsync's source
  bool ready = false;
  Setup() { ready = MakeTree(tree); }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

// One upload by vessa-sync into a fresh service; the client starts from an
// empty journal and chunk cache, with a HOME of its own.
Finished UploadWithVessa(const Setup& setup, int iteration) {
  const std::string data = setup.folder.path() + "/service-" + std::to_string(iteration);
  ServiceProcess service(data);
  if (service.Admin({"adduser", kUser, kPassword}) != 0 || !service.Start()) return {};
  const std::string home = setup.folder.path() + "/home-" + std::to_string(iteration);
  for (const char* sub : {"config", "state", "runtime", "cache"}) fs::create_directories(home + "/" + sub);
  for (const char* stale : {"/.db", "/.cache", "/.log"}) fs::remove_all(setup.root + stale);
  const Finished finished =
      Run({VESSA_SYNC_PROGRAM, "--root", setup.root, "--user", kUser, "--host-name", "bench-pc", "--auth-server",
           service.AuthUrl(), "--once", "--yes", "--log-level", "2"},
          {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config", "XDG_STATE_HOME=" + home + "/state",
           "XDG_RUNTIME_DIR=" + home + "/runtime", "XDG_CACHE_HOME=" + home + "/cache",
           "VESSA_PASSWORD=" + std::string(kPassword)});
  service.Stop();
  fs::remove_all(data);
  return finished;
}

void BM_FirstUploadOf1GiB_VessaVersusRsync(benchmark::State& state) {
  Setup& setup = TheSetup();
  if (!setup.ready) {
    state.SkipWithError("the tree could not be made");
    return;
  }
  RsyncDaemon daemon(setup.folder.path() + "/rsync");
  if (!daemon.Ready()) {
    state.SkipWithError("the rsync daemon did not start");
    return;
  }
  double vessaTotal = 0;
  double rsyncTotal = 0;
  double rsyncFsyncTotal = 0;
  double vessaBusy = 0;
  double rsyncBusy = 0;
  long peakKiB = 0;
  int iteration = 0;
  for (auto _ : state) {
    daemon.Empty();
    const Finished rsync = Run({"rsync", "-a", setup.tree + "/", daemon.Url()});
    daemon.Empty();
    const Finished rsyncFsync = Run({"rsync", "-a", "--fsync", setup.tree + "/", daemon.Url()});
    const Finished vessa = UploadWithVessa(setup, iteration++);
    if (rsync.status != 0 || rsyncFsync.status != 0 || vessa.status != 0) {
      state.SkipWithError(vessa.status != 0 ? "vessa-sync did not finish its run" : "rsync failed");
      break;
    }
    state.SetIterationTime(vessa.seconds);
    vessaTotal += vessa.seconds;
    rsyncTotal += rsync.seconds;
    rsyncFsyncTotal += rsyncFsync.seconds;
    vessaBusy += vessa.busyCoreSeconds;
    rsyncBusy += rsync.busyCoreSeconds;
    peakKiB = std::max(peakKiB, vessa.peakKiB);
  }
  if (iteration == 0) return;
  state.counters["vessa_s"] = vessaTotal / iteration;
  state.counters["rsync_s"] = rsyncTotal / iteration;
  state.counters["rsync_fsync_s"] = rsyncFsyncTotal / iteration;
  state.counters["vessa_per_rsync"] = vessaTotal / rsyncTotal;
  state.counters["vessa_per_rsync_fsync"] = vessaTotal / rsyncFsyncTotal;
  state.counters["vessa_busy_core_s"] = vessaBusy / iteration;
  state.counters["rsync_busy_core_s"] = rsyncBusy / iteration;
  state.counters["client_peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}

BENCHMARK(BM_FirstUploadOf1GiB_VessaVersusRsync)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
