// Delta encoding of one 4 MiB chunk against the signature of its previous
// version, side by side with librsync's rdiff doing the same job
// (`rdiff signature` + `rdiff delta`, 4096-byte blocks, on files in a temp
// folder). Three previous versions: (a) the same chunk, (b) the chunk with
// one byte changed in the middle, (c) unrelated bytes. Wall time, since rdiff
// runs in child processes; throughput in chunk bytes per second.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "foundation/Util.h"
#include "store/Delta.h"
#include "store/FileInfo.h"

extern char** environ;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kChunk = 4194304;
const char* const kRdiff = "/usr/bin/rdiff";

Bytes RandomBytes(std::size_t count, uint32_t seed) {
  Bytes bytes(count);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

const Bytes& NewChunk() {
  static const Bytes chunk = RandomBytes(kChunk, 1);
  return chunk;
}

enum OldCase { kSame = 0, kOneByte = 1, kUnrelated = 2 };

Bytes OldChunk(int which) {
  switch (which) {
    case kSame:
      return NewChunk();
    case kOneByte: {
      Bytes old = NewChunk();
      old[kChunk / 2] ^= 0x01;
      return old;
    }
    default:
      return RandomBytes(kChunk, 2);
  }
}

// The previous version as the upload holds it: one chunk with its block
// lists and storage key, and the signature built from them.
CFileInfo OldVersion(const Bytes& old) {
  std::string key, sums, hashes;
  int blocks = 0;
  CUtil::Md5Hex(old.data(), old.size(), key);
  CUtil::BlockSignatureLists(old.data(), old.size(), sums, hashes, blocks);
  CFileInfo file("/bench.bin", 0, static_cast<int64_t>(old.size()));
  file.AddChunk(key, static_cast<int32_t>(old.size()), sums, hashes, blocks);
  file.chunks.back().storageId = "bench-storage-key";
  if (!file.BuildSignature()) std::abort();
  return file;
}

void BM_EncodeDelta(benchmark::State& state) {
  const CFileInfo old = OldVersion(OldChunk(static_cast<int>(state.range(0))));
  const Bytes& chunk = NewChunk();
  Bytes encoded;
  for (auto _ : state) {
    if (!EncodeDelta(old.signature, chunk.data(), kChunk, encoded)) state.SkipWithError("encoding refused");
    benchmark::DoNotOptimize(encoded.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
  state.counters["encoded_bytes"] = static_cast<double>(encoded.size());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs rdiff with `args`, without a shell; true when it exited with 0.
bool RunRdiff(std::vector<std::string> args) {
  args.insert(args.begin(), kRdiff);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, kRdiff, nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_Rdiff(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vessa-delta-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    state.SkipWithError("no temp folder");
    return;
  }
  const std::filesystem::path folder = pattern;
  const std::string oldFile = folder / "old.bin", newFile = folder / "new.bin";
  const std::string sigFile = folder / "old.sig", deltaFile = folder / "new.delta";
  WriteBytes(oldFile, OldChunk(static_cast<int>(state.range(0))));
  WriteBytes(newFile, NewChunk());

  for (auto _ : state) {
    const bool ok = RunRdiff({"-f", "-b", "4096", "signature", oldFile, sigFile}) &&
                    RunRdiff({"-f", "delta", sigFile, newFile, deltaFile});
    if (!ok) {
      state.SkipWithError("rdiff failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
  std::error_code ignored;
  state.counters["encoded_bytes"] = static_cast<double>(std::filesystem::file_size(deltaFile, ignored));
  std::filesystem::remove_all(folder, ignored);
}

void Cases(benchmark::internal::Benchmark* b) {
  b->ArgName("old")->Arg(kSame)->Arg(kOneByte)->Arg(kUnrelated)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_EncodeDelta)->Apply(Cases);
BENCHMARK(BM_Rdiff)->Apply(Cases);

}  // namespace

BENCHMARK_MAIN();
