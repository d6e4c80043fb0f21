// Digest throughput on one chunk (4 MiB): the MD5 text digest that names a
// chunk, and the per-block signature lists cut from it.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/Util.h"

namespace {

constexpr size_t kChunkSize = 4194304;

const std::vector<unsigned char>& RandomChunk() {
  static const std::vector<unsigned char> chunk = [] {
    std::vector<unsigned char> bytes(kChunkSize);
    std::mt19937 random(42);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
  }();
  return chunk;
}

void BM_Md5Hex(benchmark::State& state) {
  const auto& chunk = RandomChunk();
  std::string digest;
  for (auto _ : state) {
    CUtil::Md5Hex(chunk.data(), chunk.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(chunk.size()));
}
BENCHMARK(BM_Md5Hex)->Unit(benchmark::kMillisecond);

void BM_BlockSignatureLists(benchmark::State& state) {
  const auto& chunk = RandomChunk();
  for (auto _ : state) {
    std::string weak, strong;
    int count = 0;
    CUtil::BlockSignatureLists(chunk.data(), chunk.size(), weak, strong, count);
    benchmark::DoNotOptimize(strong);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(chunk.size()));
}
BENCHMARK(BM_BlockSignatureLists)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
