// The client's reading of the authentication server's answer: its header
// lines ("Set-Vessa" with the server addresses) and libcurl's cookie lines
// (the "ordanePassport" cookie).
//   input: lines; the selector byte says which reader takes them
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at + (end < text.size() ? 1 : 0)));
    at = end + 1;
  }
  if (data[0] % 2 == 0) {
    CAuth auth;
    for (const std::string& line : lines) auth.ParserContent(line);
    std::string back;
    std::string transmitter;
    std::string heartbeat;
    auth.GetServers(back, transmitter, heartbeat);
  } else {
    CAuth::PassportFromCookies(lines);
  }
  return 0;
}
