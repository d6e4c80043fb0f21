#include "store/Sharedfilestatus.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "store/FileJournal.h"

namespace {

// The count word is read by other processes without a lock: it is published
// with release order so an entry's bytes are visible before it is counted.
int32_t LoadCount(const void* block) { return __atomic_load_n(static_cast<const int32_t*>(block), __ATOMIC_ACQUIRE); }
void StoreCount(void* block, int32_t count) { __atomic_store_n(static_cast<int32_t*>(block), count, __ATOMIC_RELEASE); }

SharedStatusEntry* EntriesOf(void* block) {
  return reinterpret_cast<SharedStatusEntry*>(static_cast<char*>(block) + sizeof(int32_t));
}

void SetFields(SharedStatusEntry& entry, int32_t status, int32_t total, int32_t done) {
  if (status != -1) entry.status = status;
  if (total != -1) entry.total = total;
  if (done != -1) entry.done = done;
}

}  // namespace

std::string DefaultStatusBlockName() { return "/SHARENAME-" + std::to_string(getuid()); }

CSharedFileStatus::~CSharedFileStatus() { Clear(); }

int CSharedFileStatus::Create(const std::string& name) {
  return memory_.Create(name, kStatusBlockSize) ? 1 : 0;
}

void CSharedFileStatus::Clear() {
  if (memory_.data()) StoreCount(memory_.data(), 0);
  index_.clear();
  indexedCount_ = 0;
}

void CSharedFileStatus::Reindex(int32_t count) {
  const SharedStatusEntry* entries = EntriesOf(memory_.data());
  index_.clear();
  for (int32_t i = 0; i < count; ++i) {
    index_.emplace(std::string(entries[i].path, strnlen(entries[i].path, sizeof entries[i].path)), i);
  }
  indexedCount_ = count;
}

int CSharedFileStatus::Update(const std::string& path, int32_t status, int32_t total, int32_t done) {
  if (!memory_.data() || path.size() > kStatusMaxPath) return 0;
  const std::string key = CFileJournal::ToKey(path);
  SharedStatusEntry* entries = EntriesOf(memory_.data());
  const int32_t count = std::clamp(LoadCount(memory_.data()), 0, kStatusMaxEntries);
  if (count != indexedCount_) Reindex(count);
  const auto found = index_.find(key);
  if (found != index_.end()) {
    SetFields(entries[found->second], status, total, done);
    return 1;
  }
  if (count >= kStatusMaxEntries) return 0;
  SharedStatusEntry& entry = entries[count];
  std::memset(&entry, 0, sizeof entry);
  std::memcpy(entry.path, key.c_str(), key.size() + 1);
  SetFields(entry, status, total, done);
  StoreCount(memory_.data(), count + 1);
  index_.emplace(key, count);
  indexedCount_ = count + 1;
  return 1;
}

std::vector<SharedStatusEntry> ReadStatusEntries(const void* block, std::size_t size) {
  std::vector<SharedStatusEntry> entries;
  if (!block || size < sizeof(int32_t)) return entries;
  const int64_t fits = static_cast<int64_t>((size - sizeof(int32_t)) / sizeof(SharedStatusEntry));
  const int64_t counted =
      std::clamp<int64_t>(LoadCount(block), 0, std::min<int64_t>(fits, kStatusMaxEntries));
  const auto* first = reinterpret_cast<const SharedStatusEntry*>(static_cast<const char*>(block) + sizeof(int32_t));
  entries.assign(first, first + counted);
  for (SharedStatusEntry& entry : entries) entry.path[sizeof entry.path - 1] = '\0';
  return entries;
}
