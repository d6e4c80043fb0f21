// The decoding of the service's text: character references into the local
// code page (the names of every listed entry), and the decimal numbers of
// answers.
//   input: the text
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/Util.h"
#include "protocol/WireValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // may hold NULs: they end the C text
  CUtil::ChnDecode(text.c_str());
  ReceivedPath(text.c_str());
  int64_t wide = 0;
  int32_t narrow = 0;
  ReadDecimal(text.c_str(), wide);
  ReadDecimal(text.c_str(), narrow);
  return 0;
}
