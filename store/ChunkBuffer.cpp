#include "store/ChunkBuffer.h"

#include <cstddef>
#include <utility>

namespace {
// Slack after the bytes in use, so a reader may NUL-terminate text in place.
constexpr uint32_t kSlack = 4;
}  // namespace

CChunkBuffer::CChunkBuffer(uint32_t capacity) {
  if (capacity > kChunkBufferLimit) return;
  data_.resize(static_cast<std::size_t>(capacity) + kSlack);
  capacity_ = capacity;
}

bool CChunkBuffer::Resize(uint32_t capacity) {
  if (capacity > kChunkSize) return false;
  std::vector<unsigned char> area(static_cast<std::size_t>(capacity) + kSlack);
  data_.swap(area);
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
  data_ = std::move(area);
  capacity_ = length_ = static_cast<uint32_t>(data_.size());
  return true;
}
