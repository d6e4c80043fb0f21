#pragma once
// The shared status block: the synchronisation state of local paths, published
// for file-manager extensions (and vessa-status) in POSIX shared memory named
// "/SHARENAME-<uid>". Layout, byte for byte:
//   offset 0            int32 entry count
//   offset 4 + 272 * i  entry i: int32 status, char path[260] (absolute,
//                       lower case, "/" separators, NUL-terminated),
//                       int32 progress total, int32 progress done
// Status 1: changed locally, 2: being transferred, 3: in step with the
// server, 4: left out (the service refuses its name, or it lies too deep),
// retried by every run. Only the client writes; it fills an entry before it
// counts it, so a reader never sees a counted entry half-written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/SharedMemory.h"

struct SharedStatusEntry {
  int32_t status;
  char path[260];
  int32_t total;
  int32_t done;
};
static_assert(sizeof(SharedStatusEntry) == 272, "the block's entry layout");

constexpr std::size_t kStatusBlockSize = 16777216;
constexpr int32_t kStatusMaxEntries = (kStatusBlockSize - 4) / sizeof(SharedStatusEntry);  // 61680
constexpr std::size_t kStatusMaxPath = 259;
constexpr int32_t kStatusLeftOut = 4;

// "/SHARENAME-" + the user id.
std::string DefaultStatusBlockName();

class CSharedFileStatus {
 public:
  CSharedFileStatus() = default;
  ~CSharedFileStatus();  // Clear, then unmap
  CSharedFileStatus(const CSharedFileStatus&) = delete;
  CSharedFileStatus& operator=(const CSharedFileStatus&) = delete;

  // Creates or opens the block and maps it. 0 when that fails.
  int Create(const std::string& name);
  // Entry count to 0 (the entries' bytes stay).
  void Clear();
  // Sets the fields of `path`'s entry that are not -1, appending the entry
  // when the path is new (its -1 fields then read 0). The path is
  // lower-cased first. 0 when the block is not mapped or full, or the path
  // is longer than kStatusMaxPath.
  int Update(const std::string& path, int32_t status, int32_t total, int32_t done);

 private:
  // Rebuilds the index from the block's counted entries.
  void Reindex(int32_t count);

  platform::CSharedMemory memory_;
  // Entry of each path written, so an update does not search the block:
  // a listing updates a hundred thousand paths. Rebuilt when the count in
  // the block is not the one this object left there.
  std::unordered_map<std::string, int32_t> index_;
  int32_t indexedCount_ = 0;
};

// The counted entries of a mapped block, read defensively: the count is
// bounded by the block and each path by its 260 bytes.
std::vector<SharedStatusEntry> ReadStatusEntries(const void* block, std::size_t size);
