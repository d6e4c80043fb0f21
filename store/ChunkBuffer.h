#pragma once
// The bytes of one chunk on the heap. Sizes are checked at run time in every
// build: sizes may come from a server or a database.
#include <cstdint>
#include <memory>
#include <vector>

constexpr uint32_t kChunkSize = 4194304;                 // 4 MiB: the largest chunk
constexpr uint32_t kChunkBufferLimit = kChunkSize + 64;  // largest capacity at construction

class CChunkBuffer {
 public:
  // Allocates capacity + 4 bytes, length 0. A capacity above
  // kChunkBufferLimit gives an empty buffer (capacity 0).
  explicit CChunkBuffer(uint32_t capacity);
  CChunkBuffer(const CChunkBuffer&) = delete;
  CChunkBuffer& operator=(const CChunkBuffer&) = delete;

  // Replaces the area by a new one of `capacity` + 4 bytes, length 0. False,
  // and nothing changed, above kChunkSize.
  bool Resize(uint32_t capacity);
  // False, and nothing changed, when `length` exceeds the capacity.
  bool SetLength(uint32_t length);
  // Takes over bytes made elsewhere (the delta encoder): capacity = length =
  // their count. An empty area is refused.
  bool Adopt(std::vector<unsigned char> area);

  unsigned char* data() { return data_.get(); }
  const unsigned char* data() const { return data_.get(); }
  uint32_t capacity() const { return capacity_; }
  uint32_t length() const { return length_; }

 private:
  // Not zero-filled: a buffer is always filled before its length is set, and
  // clearing 4 MiB for every file (most are far smaller) costs more than
  // reading the file.
  std::unique_ptr<unsigned char[]> data_;
  uint32_t capacity_ = 0;
  uint32_t length_ = 0;
};
