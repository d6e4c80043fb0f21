// Transfer speed beside rsync, in one run:
//   upload    the first upload of a 1 GiB tree (1 000 files of 1 to 447 KiB in
//             20 folders, four files of 200 MiB) into an empty account
//   download  the first download of that account into an empty folder
//   small     the first upload of 1 000 files of 4 KiB
// Each case runs vessa-sync --once against vessa-service, and rsync -a and
// rsync -a --fsync against a fresh rsync daemon, all on loopback, the three
// interleaved (their order turns with each repetition). Before every timed
// run the file system is synced and the page cache of the source dropped.
// Per run: wall time; core-seconds of the client plus the server (each with
// its reaped children, from wait4); peak resident size of each. Then the
// medians, the ratios against rsync -a --fsync, and one line per target.
//
// vessa_bench_transfer [--reps N] [--lanes N] [--cases upload,download,small]
//                      [--sync-program PATH] [--service-program PATH]
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUser = "bench";
// The programs measured: this build's, or others given on the command line
// (to set an earlier build beside the same anchors).
std::string syncProgram = VESSA_SYNC_PROGRAM;
std::string serviceProgram = VESSA_SERVICE_PROGRAM;
constexpr const char* kPassword = "bench-pw";

// ---------------------------------------------------------------------------
// Processes

struct Usage {
  int status = -1;
  double seconds = 0;
  double coreSeconds = 0;
  long peakKiB = 0;
};

double CoreSeconds(const rusage& usage) {
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0) Stop(SIGKILL);
  }

  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& added = {}) {
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
    start_ = Clock::now();
    const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) pid_ = -1;
    return pid_ > 0;
  }

  // Waits for the end (after `signal`, when one is given).
  Usage Stop(int signal = 0) {
    Usage usage;
    if (pid_ <= 0) return usage;
    if (signal != 0) kill(pid_, signal);
    int status = 0;
    rusage resources{};
    if (wait4(pid_, &status, 0, &resources) == pid_) {
      usage.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
      usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      usage.coreSeconds = CoreSeconds(resources);
      usage.peakKiB = resources.ru_maxrss;
    }
    pid_ = -1;
    return usage;
  }

 private:
  pid_t pid_ = -1;
  Clock::time_point start_;
};

Usage Run(const std::vector<std::string>& argv, const std::vector<std::string>& added = {}) {
  Process process;
  if (!process.Start(argv, added)) return {};
  return process.Stop();
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

bool WaitUntilAccepting(int port) {
  for (int i = 0; i < 200; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

// ---------------------------------------------------------------------------
// Trees and the page cache

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

void MakeMixedTree(const std::string& folder) {
  std::mt19937_64 random(42);
  constexpr std::size_t kSmallMax = 447 * 1024;
  for (int i = 0; i < 1000; ++i) {
    const std::string sub = folder + "/small/d" + std::to_string(i % 20);
    fs::create_directories(sub);
    WriteRandomFile(sub + "/f" + std::to_string(i) + ".dat", 1024 + random() % (kSmallMax - 1024), random);
  }
  fs::create_directories(folder + "/large");
  for (int i = 0; i < 4; ++i) WriteRandomFile(folder + "/large/big" + std::to_string(i), 200u << 20, random);
}

void MakeSmallTree(const std::string& folder) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 1000; ++i) {
    const std::string sub = folder + "/d" + std::to_string(i % 20);
    fs::create_directories(sub);
    WriteRandomFile(sub + "/f" + std::to_string(i) + ".dat", 4096, random);
  }
}

// Writes dirty pages out, then asks the kernel to forget the clean pages of
// every file below `folder` (no privilege needed, unlike drop_caches).
void DropCache(const std::vector<std::string>& folders) {
  ::sync();
  for (const std::string& folder : folders) {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::end(it); it.increment(error)) {
      if (!it->is_regular_file()) continue;
      const int fd = open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
      close(fd);
    }
  }
}

void Recreate(const std::string& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
}

// ---------------------------------------------------------------------------
// The two sides

struct Measured {
  Usage client;
  Usage server;
  bool ok() const { return client.status == 0; }
  double coreSeconds() const { return client.coreSeconds + server.coreSeconds; }
};

class VessaService {
 public:
  explicit VessaService(std::string data) : data_(std::move(data)) {}
  bool Create() {
    fs::create_directories(data_);
    return Run({serviceProgram, "--data", data_, "init"}).status == 0 &&
           Run({serviceProgram, "--data", data_, "adduser", kUser, kPassword}).status == 0;
  }
  bool Start() {
    port_ = FreePort();
    return process_.Start({serviceProgram, "--data", data_, "serve", "--port", std::to_string(port_)}) &&
           WaitUntilAccepting(port_);
  }
  Usage Stop() { return process_.Stop(SIGTERM); }
  std::string AuthUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/vorportal/LoginServlet"; }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
  Process process_;
  int port_ = 0;
};

// vessa-sync --once with a HOME of its own; `root` holds the user folder.
Usage RunVessaSync(const std::string& root, const std::string& home, const VessaService& service,
                   const std::string& host, int lanes) {
  for (const char* sub : {"config", "state", "runtime", "cache"}) fs::create_directories(home + "/" + sub);
  std::vector<std::string> argv = {syncProgram, "--root", root, "--user", kUser, "--host-name", host,
                                   "--auth-server", service.AuthUrl(), "--once", "--yes", "--log-level", "2"};
  if (lanes > 0) {
    argv.push_back("--lanes");
    argv.push_back(std::to_string(lanes));
  }
  return Run(argv, {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config", "XDG_STATE_HOME=" + home + "/state",
                    "XDG_RUNTIME_DIR=" + home + "/runtime", "XDG_CACHE_HOME=" + home + "/cache",
                    "VESSA_PASSWORD=" + std::string(kPassword)});
}

class RsyncDaemon {
 public:
  RsyncDaemon(const std::string& folder, const std::string& module) : config_(folder + "/rsyncd.conf") {
    fs::create_directories(folder);
    std::ofstream(config_) << "use chroot = no\nuid = " << getuid() << "\ngid = " << getgid()
                           << "\n[bench]\n  path = " << module << "\n  read only = no\n";
  }
  bool Start() {
    port_ = FreePort();
    return process_.Start({"rsync", "--daemon", "--no-detach", "--config=" + config_,
                           "--port=" + std::to_string(port_)}) &&
           WaitUntilAccepting(port_);
  }
  Usage Stop() { return process_.Stop(SIGTERM); }
  std::string Url() const { return "rsync://127.0.0.1:" + std::to_string(port_) + "/bench/"; }

 private:
  std::string config_;
  Process process_;
  int port_ = 0;
};

// ---------------------------------------------------------------------------
// The cases

struct Bench {
  std::string work;
  int lanes = 0;
  int runs = 0;
};

struct CaseResult {
  std::map<std::string, std::vector<Measured>> byTool;  // "vessa", "rsync", "rsync --fsync"
};

const char* const kTools[] = {"vessa", "rsync", "rsync --fsync"};

std::vector<std::string> RsyncArgs(const std::string& tool, const std::string& from, const std::string& to) {
  std::vector<std::string> argv = {"rsync", "-a"};
  if (tool == "rsync --fsync") argv.push_back("--fsync");
  argv.push_back(from);
  argv.push_back(to);
  return argv;
}

// rsync of `source` into a fresh daemon whose module is `module` (emptied).
Measured RsyncUpload(Bench& bench, const std::string& tool, const std::string& source) {
  const std::string module = bench.work + "/rsync-module";
  Recreate(module);
  RsyncDaemon daemon(bench.work + "/rsyncd", module);
  Measured measured;
  if (!daemon.Start()) return measured;
  DropCache({source});
  measured.client = Run(RsyncArgs(tool, source + "/", daemon.Url()));
  measured.server = daemon.Stop();
  return measured;
}

Measured VessaUpload(Bench& bench, const std::string& tree) {
  const std::string run = bench.work + "/vessa-" + std::to_string(bench.runs++);
  const std::string root = run + "/client";
  fs::create_directories(root);
  fs::rename(tree, root + "/" + kUser);  // the client's user folder, for this run
  VessaService service(run + "/service");
  Measured measured;
  if (service.Create() && service.Start()) {
    DropCache({root});
    measured.client = RunVessaSync(root, run + "/home", service, "bench-pc", bench.lanes);
    measured.server = service.Stop();
  }
  fs::rename(root + "/" + kUser, tree);
  fs::remove_all(run);
  return measured;
}

CaseResult UploadCase(Bench& bench, const std::string& tree, int reps) {
  CaseResult result;
  for (int rep = 0; rep < reps; ++rep) {
    for (int i = 0; i < 3; ++i) {
      const std::string tool = kTools[(i + rep) % 3];
      const Measured measured = tool == "vessa" ? VessaUpload(bench, tree) : RsyncUpload(bench, tool, tree);
      result.byTool[tool].push_back(measured);
      std::fprintf(stderr, "  %-14s %7.2f s %s\n", tool.c_str(), measured.client.seconds, measured.ok() ? "" : "FAILED");
    }
  }
  return result;
}

CaseResult DownloadCase(Bench& bench, const std::string& tree, int reps) {
  CaseResult result;
  // The account is filled once; every download starts from an empty folder
  // and a computer the service has not seen.
  const std::string filled = bench.work + "/filled";
  VessaService service(filled + "/service");
  fs::create_directories(filled + "/client");
  fs::rename(tree, filled + "/client/" + kUser);
  const bool ready = service.Create() && service.Start() &&
                     RunVessaSync(filled + "/client", filled + "/home", service, "filler", bench.lanes).status == 0;
  service.Stop();
  fs::rename(filled + "/client/" + kUser, tree);
  if (!ready) {
    std::fprintf(stderr, "the account could not be filled\n");
    return result;
  }
  const std::string target = bench.work + "/download";
  for (int rep = 0; rep < reps; ++rep) {
    for (int i = 0; i < 3; ++i) {
      const std::string tool = kTools[(i + rep) % 3];
      Recreate(target);
      Measured measured;
      if (tool == "vessa") {
        if (service.Start()) {
          DropCache({service.Data()});
          measured.client = RunVessaSync(target, bench.work + "/home-" + std::to_string(bench.runs), service,
                                         "reader-" + std::to_string(bench.runs), bench.lanes);
          ++bench.runs;
          measured.server = service.Stop();
        }
      } else {
        RsyncDaemon daemon(bench.work + "/rsyncd", tree);
        if (daemon.Start()) {
          DropCache({tree});
          measured.client = Run(RsyncArgs(tool, daemon.Url(), target + "/"));
          measured.server = daemon.Stop();
        }
      }
      result.byTool[tool].push_back(measured);
      std::fprintf(stderr, "  %-14s %7.2f s %s\n", tool.c_str(), measured.client.seconds, measured.ok() ? "" : "FAILED");
    }
  }
  fs::remove_all(target);
  return result;
}

// ---------------------------------------------------------------------------
// Figures

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Figures {
  double wallMin = 0, wall = 0, core = 0;
  long clientPeakKiB = 0, serverPeakKiB = 0;
  bool ok = true;
};

Figures Summarise(const std::vector<Measured>& runs) {
  Figures figures;
  std::vector<double> walls, cores;
  for (const Measured& run : runs) {
    figures.ok = figures.ok && run.ok();
    walls.push_back(run.client.seconds);
    cores.push_back(run.coreSeconds());
    figures.clientPeakKiB = std::max(figures.clientPeakKiB, run.client.peakKiB);
    figures.serverPeakKiB = std::max(figures.serverPeakKiB, run.server.peakKiB);
  }
  figures.ok = figures.ok && !runs.empty();
  figures.wallMin = walls.empty() ? 0 : *std::min_element(walls.begin(), walls.end());
  figures.wall = Median(walls);
  figures.core = Median(cores);
  return figures;
}

struct Target {
  std::string text;
  double value;
  double limit;
};

void Report(const std::string& name, const CaseResult& result, double wallLimit, double coreLimit,
            std::vector<Target>& targets, long& vessaPeakKiB) {
  std::printf("\n%s\n%-14s %9s %9s %9s %12s %12s %s\n", name.c_str(), "", "wall min", "wall med", "core-s",
              "client MiB", "server MiB", "");
  std::map<std::string, Figures> figures;
  for (const char* tool : kTools) {
    const auto found = result.byTool.find(tool);
    const Figures f = found == result.byTool.end() ? Figures{} : Summarise(found->second);
    figures[tool] = f;
    std::printf("%-14s %9.2f %9.2f %9.2f %12.1f %12.1f %s\n", tool, f.wallMin, f.wall, f.core,
                f.clientPeakKiB / 1024.0, f.serverPeakKiB / 1024.0, f.ok ? "" : "(a run failed)");
  }
  const Figures& vessa = figures["vessa"];
  const Figures& anchor = figures["rsync --fsync"];
  if (!vessa.ok || !anchor.ok || anchor.wall <= 0 || anchor.core <= 0) return;
  const double wallRatio = vessa.wall / anchor.wall;
  const double coreRatio = vessa.core / anchor.core;
  std::printf("vessa / rsync -a: wall %.2fx   vessa / rsync -a --fsync: wall %.2fx, core-s %.2fx\n",
              vessa.wall / std::max(figures["rsync"].wall, 1e-9), wallRatio, coreRatio);
  targets.push_back({name + ": wall vs rsync -a --fsync", wallRatio, wallLimit});
  if (coreLimit > 0) targets.push_back({name + ": core-s vs rsync -a --fsync", coreRatio, coreLimit});
  vessaPeakKiB = std::max(vessaPeakKiB, vessa.clientPeakKiB);
}

bool Wanted(const std::string& cases, const std::string& name) {
  return cases.empty() || ("," + cases + ",").find("," + name + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 3;
  Bench bench;
  std::string cases;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--reps") reps = std::max(1, std::atoi(argv[i + 1]));
    else if (name == "--lanes") bench.lanes = std::atoi(argv[i + 1]);
    else if (name == "--cases") cases = argv[i + 1];
    else if (name == "--sync-program") syncProgram = argv[i + 1];
    else if (name == "--service-program") serviceProgram = argv[i + 1];
  }
  TempDir folder("vessa-transfer-bench");
  bench.work = folder.path();
  std::vector<Target> targets;
  long vessaPeakKiB = 0;
  std::printf("median of %d; lanes: %s\n", reps, bench.lanes > 0 ? std::to_string(bench.lanes).c_str() : "default");
  if (Wanted(cases, "upload") || Wanted(cases, "download")) {
    const std::string tree = bench.work + "/mixed";
    MakeMixedTree(tree);
    if (Wanted(cases, "upload")) {
      std::fprintf(stderr, "first upload, 1 GiB tree\n");
      Report("first upload (4 x 200 MiB + 1000 files, 1.07 GB)", UploadCase(bench, tree, reps), 1.5, 3.0, targets,
             vessaPeakKiB);
    }
    if (Wanted(cases, "download")) {
      std::fprintf(stderr, "first download, 1 GiB tree\n");
      Report("first download to an empty folder", DownloadCase(bench, tree, reps), 1.5, 3.0, targets, vessaPeakKiB);
    }
    fs::remove_all(tree);
  }
  if (Wanted(cases, "small")) {
    const std::string tree = bench.work + "/small";
    MakeSmallTree(tree);
    std::fprintf(stderr, "first upload, 1000 x 4 KiB\n");
    Report("1000 x 4 KiB first upload", UploadCase(bench, tree, reps), 2.5, 0, targets, vessaPeakKiB);
  }
  if (vessaPeakKiB > 0) targets.push_back({"client peak RSS (MiB) vs 64 MiB", vessaPeakKiB / 1024.0, 64});
  std::printf("\ntargets\n");
  for (const Target& target : targets) {
    std::printf("%-48s %7.2f <= %-5.1f %s\n", target.text.c_str(), target.value, target.limit,
                target.value <= target.limit ? "met" : "not met");
  }
  return 0;
}
