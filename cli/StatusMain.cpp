// vessa-status: prints the shared status block, one entry per line:
//   <path> TAB <status> TAB <progress total> TAB <progress done>
// Status 1: changed locally, 2: being transferred, 3: in step with the server.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/SharedMemory.h"
#include "store/FileJournal.h"
#include "store/Sharedfilestatus.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: vessa-status [--block NAME] [PATH-PREFIX]\n");
  return 2;
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
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--block") == 0 && i + 1 < argc) {
      block = argv[++i];
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
  for (const SharedStatusEntry& entry : ReadStatusEntries(memory.data(), memory.size())) {
    if (!Within(entry.path, prefix)) continue;
    std::printf("%s\t%d\t%d\t%d\n", entry.path, entry.status, entry.total, entry.done);
  }
  return 0;
}
