#include "store/ChunkBuffer.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace {
// Slack after the bytes in use, so a reader may NUL-terminate text in place.
constexpr uint32_t kSlack = 4;

std::unique_ptr<unsigned char[]> NewArea(uint32_t capacity) {
  return std::unique_ptr<unsigned char[]>(new unsigned char[static_cast<std::size_t>(capacity) + kSlack]);
}
}  // namespace

CChunkBuffer::CChunkBuffer(uint32_t capacity) {
  if (capacity > kChunkBufferLimit) return;
  data_ = NewArea(capacity);
  capacity_ = capacity;
}

bool CChunkBuffer::Resize(uint32_t capacity) {
  if (capacity > kChunkSize) return false;
  data_ = NewArea(capacity);
  capacity_ = capacity;
  length_ = 0;
  return true;
}

bool CChunkBuffer::SetLength(uint32_t length) {
  if (length > capacity_) return false;
  length_ = length;
  return true;
}

bool CChunkBuffer::Adopt(std::vector<unsigned char> area) {
  if (area.empty() || area.size() > UINT32_MAX) return false;
  data_ = NewArea(static_cast<uint32_t>(area.size()));
  std::memcpy(data_.get(), area.data(), area.size());
  capacity_ = length_ = static_cast<uint32_t>(area.size());
  return true;
}
