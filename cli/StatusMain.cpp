// vessa-status: prints the shared status block, one entry per line:
//   <path> TAB <status> TAB <progress total> TAB <progress done>
// Status 1: changed locally, 2: being transferred, 3: in step with the
// server, 4: left out (the service refuses its name, or it lies too deep).
// With --summary it prints one line for the whole folder instead: "syncing",
// "N entries changed locally", "synced except N entries" (then each of them
// on a line of its own, indented) or "synced".
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SharedMemory.h"
#include "store/FileJournal.h"
#include "store/Sharedfilestatus.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vessa-status [--block NAME] [--summary] [PATH-PREFIX]\n");
  return 2;
}

void PrintSummary(const std::vector<SharedStatusEntry>& entries) {
  std::size_t changed = 0;
  std::vector<std::string> leftOut;
  for (const SharedStatusEntry& entry : entries) {
    if (entry.status == 2) {
      std::printf("syncing\n");
      return;
    }
    if (entry.status == 1) ++changed;
    if (entry.status == kStatusLeftOut) leftOut.push_back(entry.path);
  }
  if (changed > 0) {
    std::printf("%zu entries changed locally\n", changed);
  } else if (!leftOut.empty()) {
    std::printf("synced except %zu entries\n", leftOut.size());
    for (const std::string& path : leftOut) std::printf("  %s\n", path.c_str());
  } else {
    std::printf("synced\n");
  }
}

// Paths in the block are lower case; the prefix matches whole names.
bool Within(const std::string& path, const std::string& prefix) {
  if (prefix.empty()) return true;
  return path.compare(0, prefix.size(), prefix) == 0 && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

}  // namespace

int main(int argc, char** argv) {
  std::string block = DefaultStatusBlockName();
  std::string prefix;
  bool summary = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--block") == 0 && i + 1 < argc) {
      block = argv[++i];
    } else if (std::strcmp(argv[i], "--summary") == 0) {
      summary = true;
    } else if (argv[i][0] == '-' || !prefix.empty()) {
      return Usage();
    } else {
      prefix = CFileJournal::ToKey(argv[i]);
      while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();  // "/" means all
    }
  }
  platform::CSharedMemory memory;
  if (!memory.OpenReadOnly(block, kStatusBlockSize)) {
    std::fprintf(stderr, "vessa-status: no status block %s (is Vessa running?)\n", block.c_str());
    return 1;
  }
  std::vector<SharedStatusEntry> entries;
  for (const SharedStatusEntry& entry : ReadStatusEntries(memory.data(), memory.size())) {
    if (Within(entry.path, prefix)) entries.push_back(entry);
  }
  if (summary) {
    PrintSummary(entries);
    return 0;
  }
  for (const SharedStatusEntry& entry : entries) {
    std::printf("%s\t%d\t%d\t%d\n", entry.path, entry.status, entry.total, entry.done);
  }
  return 0;
}
