// The "CNYS" delta decoder the service runs on every uploaded delta: the
// records are read against one known old chunk (storage key
// "00000000000000000000000000000001", 64 KiB of known bytes).
//   input: the encoded delta
#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/Delta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::vector<unsigned char> kOld = [] {
    std::vector<unsigned char> bytes(65536);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 131 + (i >> 8));
    return bytes;
  }();
  const OldChunkReader readOld = [](const std::string& storageKey, std::vector<unsigned char>& bytes) {
    if (storageKey != "00000000000000000000000000000001") return false;
    bytes = kOld;
    return true;
  };
  std::vector<unsigned char> chunk;
  std::string error;
  DecodeDelta(data, size, readOld, chunk, error);
  return 0;
}
