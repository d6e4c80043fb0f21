// The local store side by side with the system's own tools, in one run:
//   LoadChunk (chunks cached) and CutChunks (keys and block lists only, as an
//   upload cuts) of a 256 MiB file (warm page cache)  vs  md5sum of that file
//   ScanRoot of 100 000 files in 1 000 folders     vs  find DIR -printf '%s %T@\n'
//   peak memory (VmHWM) of a fresh process running LoadChunk on a 1 GiB file
// The data is made under $VESSA_BENCH_DIR (default $TMPDIR) and removed at
// the end. Ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "store/FileCache.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int64_t kMiB = 1048576;

const std::string& DataDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("VESSA_BENCH_DIR");
    if (!base || !*base) base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vessa-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  return dir;
}

// A file of `size` pseudo-random bytes, written once.
std::string DataFile(const std::string& name, int64_t size) {
  const std::string path = DataDir() + "/" + name;
  if (fs::exists(path)) return path;
  std::ofstream out(path, std::ios::binary);
  std::vector<uint64_t> block(kMiB / 8);
  uint64_t state = 88172645463325252ULL;
  for (int64_t done = 0; done < size; done += kMiB) {
    for (uint64_t& word : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(std::min(kMiB, size - done)));
  }
  return path;
}

// 20 folders of 49 folders each (1 000 folders), 100 small files in each.
std::string Tree() {
  const std::string root = DataDir() + "/tree";
  if (fs::exists(root)) return root;
  const std::string content = "sixteen bytes..\n";
  for (int top = 0; top < 20; ++top) {
    const std::string topFolder = root + "/top" + std::to_string(top);
    std::vector<std::string> folders = {topFolder};
    for (int sub = 0; sub < 49; ++sub) folders.push_back(topFolder + "/sub" + std::to_string(sub));
    for (const std::string& folder : folders) {
      fs::create_directories(folder);
      for (int file = 0; file < 100; ++file) {
        std::ofstream(folder + "/file" + std::to_string(file) + ".txt") << content;
      }
    }
  }
  return root;
}

// Runs a program with its output thrown away; its exit status.
int RunQuiet(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  if (spawned == 0) waitpid(pid, &status, 0);
  return status;
}

// LoadChunk (the chunks of a large file written to the cache) or, for an
// upload, CutChunks (keys and block lists only).
int CutOnce(CFileCache& cache, const std::string& path, int64_t size, bool forUpload) {
  CFileInfo info(path, 0, size);
  return forUpload ? cache.CutChunks(path, info) : cache.LoadChunk(info);
}

void CutLoop(benchmark::State& state, bool forUpload) {
  const std::string file = DataFile("256MiB.bin", 256 * kMiB);
  CFileCache cache;
  cache.SetRoot(DataDir());
  cache.SetCache(DataDir() + "/cache");
  CutOnce(cache, file, 256 * kMiB, forUpload);  // warms the page cache
  for (auto _ : state) {
    if (!CutOnce(cache, file, 256 * kMiB, forUpload)) state.SkipWithError("cutting failed");
  }
  state.SetBytesProcessed(state.iterations() * 256 * kMiB);
}

void BM_LoadChunk_256MiB(benchmark::State& state) { CutLoop(state, false); }
BENCHMARK(BM_LoadChunk_256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CutChunks_256MiB(benchmark::State& state) { CutLoop(state, true); }
BENCHMARK(BM_CutChunks_256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_Md5sum_256MiB(benchmark::State& state) {
  const std::string file = DataFile("256MiB.bin", 256 * kMiB);
  RunQuiet({"md5sum", file});
  for (auto _ : state) {
    if (RunQuiet({"md5sum", file}) != 0) state.SkipWithError("md5sum failed");
  }
  state.SetBytesProcessed(state.iterations() * 256 * kMiB);
}
BENCHMARK(BM_Md5sum_256MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_ScanRoot_100k(benchmark::State& state) {
  CFileCache cache;
  cache.SetRoot(Tree());
  cache.ScanRoot();
  for (auto _ : state) {
    if (!cache.ScanRoot()) state.SkipWithError("ScanRoot failed");
  }
}
BENCHMARK(BM_ScanRoot_100k)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_Find_100k(benchmark::State& state) {
  const std::string tree = Tree();
  RunQuiet({"find", tree, "-printf", "%s %T@\\n"});
  for (auto _ : state) {
    if (RunQuiet({"find", tree, "-printf", "%s %T@\\n"}) != 0) state.SkipWithError("find failed");
  }
}
BENCHMARK(BM_Find_100k)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

// The peak resident memory of a fresh process (this program, re-run with
// --peak-child) cutting a 1 GiB file.
void BM_LoadChunkPeak_1GiB(benchmark::State& state) {
  const std::string file = DataFile("1GiB.bin", 1024 * kMiB);
  const std::string report = DataDir() + "/peak.txt";
  for (auto _ : state) {
    RunQuiet({platform::ProgramDir() + "/vessa_bench_store", "--peak-child", file, report});
  }
  std::ifstream in(report);
  double peakKiB = 0;
  if (!(in >> peakKiB)) state.SkipWithError("no peak reported");
  state.counters["peak_MiB"] = peakKiB / 1024;
}
BENCHMARK(BM_LoadChunkPeak_1GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int64_t VmHwmKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return -1;
}

int PeakChild(const std::string& file, const std::string& report) {
  const std::string folder = fs::path(file).parent_path().string();
  CFileCache cache;
  cache.SetRoot(folder);
  cache.SetCache(folder + "/cache-peak");
  CFileInfo info(file, 0, static_cast<int64_t>(fs::file_size(file)));
  if (!cache.LoadChunk(info)) return 1;
  std::ofstream(report) << VmHwmKiB() << "\n";
  return 0;
}

// Keeps the real time of every repetition per benchmark name, for the
// ratios of their medians (the aggregate rows, mean, deviation and
// variation, are not times of a run and are left out).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        times_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const char* what, const std::string& ours, const std::string& theirs, double target) {
    if (!times_.count(ours) || !times_.count(theirs)) return;
    const double ratio = Median(times_[ours]) / Median(times_[theirs]);
    std::printf("%-32s %.2fx  (median of %zu; target <= %.1fx: %s)\n", what, ratio, times_[ours].size(), target,
                ratio <= target ? "met" : "not met");
  }

 private:
  static double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
  }
  std::map<std::string, std::vector<double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--peak-child") == 0) return PeakChild(argv[2], argv[3]);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("LoadChunk / md5sum (256 MiB)", "BM_LoadChunk_256MiB", "BM_Md5sum_256MiB", 1.0);
  reporter.PrintRatio("CutChunks / md5sum (256 MiB)", "BM_CutChunks_256MiB", "BM_Md5sum_256MiB", 1.0);
  reporter.PrintRatio("ScanRoot / find (100 000 files)", "BM_ScanRoot_100k", "BM_Find_100k", 2.0);
  benchmark::Shutdown();
  fs::remove_all(DataDir());
  return 0;
}
