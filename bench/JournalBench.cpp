// The file journal at the scale of a large user folder: 100 000 rows written
// with AddUpdated (one commit per row, and one batch), and read back with
// LoadMap. Each run works on a fresh client.db in a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "store/FileJournal.h"

namespace {

// A temporary folder for one client.db, removed with its WAL files.
class BenchFolder {
 public:
  BenchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vessa-journal-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~BenchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string Db() const { return path_ + "/client.db"; }

 private:
  std::string path_;
};

// Server entries as a listing delivers them: a few hundred folders of files.
std::vector<CFileInfo> Listing(int count) {
  std::vector<CFileInfo> rows;
  rows.reserve(count);
  char chunk[33];
  for (int i = 0; i < count; ++i) {
    CFileInfo info("R/Photos " + std::to_string(i % 300) + "/IMG_" + std::to_string(i) + ".JPG", 0, 100000 + i);
    info.mtime = 133000000000000000LL + i;
    std::snprintf(chunk, sizeof chunk, "%032x", i);
    info.chunkList = chunk;
    rows.push_back(info);
  }
  return rows;
}

void AddAll(CFileJournal& journal, const std::vector<CFileInfo>& rows, bool batched) {
  if (batched) journal.BeginBatch();
  for (const CFileInfo& row : rows) journal.AddUpdated(row);
  if (batched) journal.CommitBatch();
}

// Rows per second, and seconds per 100 000 rows.
void Report(benchmark::State& state, int64_t rows) {
  state.SetItemsProcessed(state.iterations() * rows);
  state.counters["s_per_100k"] =
      benchmark::Counter(static_cast<double>(state.iterations() * rows) / 100000.0,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_AddUpdated(benchmark::State& state) {
  const bool batched = state.range(0) != 0;
  const std::vector<CFileInfo> rows = Listing(static_cast<int>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    {
      BenchFolder folder;
      CFileJournal journal;
      journal.Init(folder.Db());
      journal.OpenDB();
      state.ResumeTiming();
      AddAll(journal, rows, batched);
      state.PauseTiming();
      if (batched) {
        journal.LoadMap();
        CFileItem last;
        if (!journal.LastItem(last)) state.SkipWithError("no rows written");
      }
    }
    state.ResumeTiming();
  }
  Report(state, state.range(1));
}
BENCHMARK(BM_AddUpdated)
    ->ArgNames({"batched", "rows"})
    ->Args({1, 100000})
    ->Args({0, 100000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_LoadMap(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  BenchFolder folder;
  CFileJournal journal;
  journal.Init(folder.Db());
  journal.OpenDB();
  AddAll(journal, Listing(count), true);
  for (auto _ : state) {
    if (!journal.LoadMap()) state.SkipWithError("LoadMap failed");
  }
  CFileItem first;
  if (!journal.FirstItem(first)) state.SkipWithError("empty map");
  Report(state, count);
}
BENCHMARK(BM_LoadMap)->ArgName("rows")->Arg(100000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
