// Reading a full listing of 100 000 entries into the ordered map the sync
// engine compares: the file_list answer decoded (envelope) and parsed, in its
// plain and its compressed form; then the same through a real call over
// loopback. "peak_MiB" is the resident high-water mark of the process during
// the timed runs (the answer texts held by the program included);
// "peak_rise_MiB" is how far the runs raised it above the resident size
// before them.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <zlib.h>

#include <fstream>
#include <string>

#include "foundation/Format.h"
#include "foundation/Util.h"
#include "protocol/Back.h"
#include "tests/support/ScriptedServer.h"

namespace {

constexpr int kEntries = 100000;

// Every tenth entry a folder, the others files of one or two chunks.
std::string ListingEntries() {
  std::string text;
  text.reserve(kEntries * 220);
  for (int i = 0; i < kEntries; ++i) {
    if (i % 10 == 0) {
      text += StrFormat("<file file_name=\"R/Folder%05d\" modify_time=\"%d\" dir_flag=\"yes\" shared=\"no\"/>", i, i);
      continue;
    }
    const int chunks = i % 3 == 0 ? 2 : 1;
    std::string list;
    for (int c = 0; c < chunks; ++c) {
      const std::string seed = StrFormat("%d-%d", i, c);
      std::string key;
      CUtil::Md5Hex(seed.data(), seed.size(), key);
      list += (c ? "," : "") + key;
    }
    text += StrFormat(
        "<file file_name=\"R/Folder%05d/Document %06d.txt\" modify_time=\"1296%011d\" dir_flag=\"no\" "
        "file_size=\"%d\"><chunk_list chunk_num=\"%d\">%s</chunk_list></file>",
        i / 10 * 10, i, i, chunks * 4194000, chunks, list.c_str());
  }
  return text;
}

std::string Envelope(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><soapenv:Envelope "
         "xmlns:soapenv=\"http://www.w3.org/2003/05/soap-envelope\"><soapenv:Body><operation name=\"file_list\" "
         "version=\"version01\"><response_head result=\"OK\"/>" + body +
         "</operation></soapenv:Body></soapenv:Envelope>";
}

const std::string& PlainAnswer() {
  static const std::string answer = Envelope("<file_list_rsp compress=\"0\">" + ListingEntries() + "</file_list_rsp>");
  return answer;
}

const std::string& CompressedAnswer() {
  static const std::string answer = [] {
    const std::string entries = ListingEntries();
    uLongf size = compressBound(entries.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(entries.data()),
             entries.size());
    packed.resize(size);
    std::string base64;
    CUtil::Base64Encode(packed.data(), packed.size(), base64);
    return Envelope("<file_list_rsp compress=\"" + std::to_string(entries.size()) + "\">" + base64 +
                    "</file_list_rsp>");
  }();
  return answer;
}

// The kernel's resident high-water mark, reset before a measured phase.
// Freed heap goes back to the system first, so that the mark starts from
// what is live.
void ResetPeak() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}
double StatusMiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size())) / 1024.0;
  }
  return 0;
}
double PeakMiB() { return StatusMiB("VmHWM:"); }
double ResidentMiB() { return StatusMiB("VmRSS:"); }

void ParseAnswer(benchmark::State& state, const std::string& text) {
  CBack back;
  ResetPeak();
  const double before = ResidentMiB();
  for (auto _ : state) {
    CSoapAnswer answer;
    std::string error;
    if (!answer.Decode(text, "application/soap+xml", error)) state.SkipWithError(error.c_str());
    CBack::FileMap files;
    std::string result;
    const pugi::xml_node body = answer.Payload().child("response_head").next_sibling();
    if (!back.ParseOmGetList(body, result, files) || files.size() != kEntries) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(files);
  }
  state.counters["answer_MiB"] = static_cast<double>(text.size()) / (1 << 20);
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["peak_rise_MiB"] = PeakMiB() - before;
}

void BM_ParseFileList_Plain(benchmark::State& state) { ParseAnswer(state, PlainAnswer()); }
BENCHMARK(BM_ParseFileList_Plain)->Unit(benchmark::kMillisecond);

void BM_ParseFileList_Compressed(benchmark::State& state) { ParseAnswer(state, CompressedAnswer()); }
BENCHMARK(BM_ParseFileList_Compressed)->Unit(benchmark::kMillisecond);

void CallOverLoopback(benchmark::State& state, const std::string& text) {
  ScriptedServer server;
  ScriptedReply reply;
  reply.body = text;
  server.SetFallback(reply);
  CBack back;
  back.Init(server.Url("/axis2/services/vor_service_bs"), "bench", "secret", "H", "");
  ResetPeak();
  const double before = ResidentMiB();
  for (auto _ : state) {
    CBack::FileMap files;
    std::string result;
    if (!back.GetList("R", result, files) || files.size() != kEntries) state.SkipWithError("GetList failed");
    benchmark::DoNotOptimize(files);
  }
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["peak_rise_MiB"] = PeakMiB() - before;
}

void BM_GetListLoopback_Plain(benchmark::State& state) { CallOverLoopback(state, PlainAnswer()); }
BENCHMARK(BM_GetListLoopback_Plain)->Unit(benchmark::kMillisecond);

void BM_GetListLoopback_Compressed(benchmark::State& state) { CallOverLoopback(state, CompressedAnswer()); }
BENCHMARK(BM_GetListLoopback_Compressed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
