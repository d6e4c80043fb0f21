// vessa_soak: the kill -9 harness for as long as one likes, seed after seed,
// ending with a table of what held. `make soak` runs it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/soak/KillHarness.h"

namespace {

constexpr const char* kUsage =
    "usage: vessa_soak [--kills N] [--service-kills N] [--seeds S1,S2,...] [--large-mib N]\n"
    "                  [--max-rounds N] [--quiet]\n"
    "Each seed runs rounds of random changes on two computers, killing vessa-sync (and\n"
    "vessa-service) with SIGKILL at random instants, until N client kills were made.\n"
    "Exit status: 0 when every check held, 1 otherwise, 2 on bad arguments.\n";

bool ReadCount(const char* text, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (!text[0] || *end || number < 0 || number > 1000000) return false;
  value = static_cast<int>(number);
  return true;
}

bool ReadSeeds(const std::string& text, std::vector<unsigned>& seeds) {
  seeds.clear();
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t comma = text.find(',', at);
    int seed = 0;
    if (!ReadCount(text.substr(at, comma - at).c_str(), seed)) return false;
    seeds.push_back(static_cast<unsigned>(seed));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return !seeds.empty();
}

void PrintRow(const std::string& seed, const SoakResult& r, double seconds) {
  std::printf("%-8s %7d %13d %14d %10d %5d %12d %10d %6d %11d %8.0f\n", seed.c_str(), r.rounds, r.clientKills,
              r.serviceKills, r.converged, r.lost, r.resurrected, r.corrupted, r.extra, r.unfinished, seconds);
}

}  // namespace

int main(int argc, char** argv) {
  SoakOptions options;
  options.clientKills = 100;
  options.serviceKills = 10;
  std::vector<unsigned> seeds = {1};
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    bool ok = true;
    if (name == "--quiet") {
      quiet = true;
      continue;
    } else if (name == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (name == "--kills") {
      ok = ReadCount(value, options.clientKills);
    } else if (name == "--service-kills") {
      ok = ReadCount(value, options.serviceKills);
    } else if (name == "--large-mib") {
      ok = ReadCount(value, options.largeFileMiB) && options.largeFileMiB >= 2;
    } else if (name == "--max-rounds") {
      ok = ReadCount(value, options.maxRounds);
    } else if (name == "--seeds") {
      ok = ReadSeeds(value, seeds);
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "vessa_soak: bad option or value: %s %s\n%s", name.c_str(), value, kUsage);
      return 2;
    }
    ++i;
  }
  if (!quiet) {
    options.progress = [](const std::string& line) {
      std::printf("  %s\n", line.c_str());
      std::fflush(stdout);
    };
  }

  SoakResult total;
  double totalSeconds = 0;
  struct Row {
    unsigned seed;
    SoakResult result;
    double seconds;
  };
  std::vector<Row> results;
  for (const unsigned seed : seeds) {
    options.seed = seed;
    if (!quiet) std::printf("seed %u\n", seed);
    const auto started = std::chrono::steady_clock::now();
    SoakResult result = RunSoak(options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    totalSeconds += seconds;
    for (const std::string& problem : result.problems) std::printf("  seed %u, %s\n", seed, problem.c_str());
    if (!result.keptFolder.empty()) std::printf("  seed %u: its folders are kept in %s\n", seed, result.keptFolder.c_str());
    total.rounds += result.rounds;
    total.clientKills += result.clientKills;
    total.serviceKills += result.serviceKills;
    total.converged += result.converged;
    total.lost += result.lost;
    total.resurrected += result.resurrected;
    total.corrupted += result.corrupted;
    total.extra += result.extra;
    total.unfinished += result.unfinished;
    results.push_back({seed, std::move(result), seconds});
  }
  std::printf("\n%-8s %7s %13s %14s %10s %5s %12s %10s %6s %11s %8s\n", "seed", "rounds", "client kills",
              "service kills", "converged", "lost", "resurrected", "corrupted", "extra", "unfinished", "seconds");
  for (const Row& row : results) PrintRow(std::to_string(row.seed), row.result, row.seconds);
  PrintRow("all", total, totalSeconds);
  return total.Clean() ? 0 : 1;
}
