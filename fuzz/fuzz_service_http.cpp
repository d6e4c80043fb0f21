// The service as a client reaches it: raw bytes on a loopback connection to
// the whole service running in this process (HTTP parsing, the body limit,
// routing, the login page with HTTP Digest, the SOAP endpoints on a real
// data folder, FuzzAccount.h). Each input is one connection: the bytes are
// sent, the sending side closed, and the answer read to its end.
//   input: the bytes of the connection
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/FuzzAccount.h"

namespace {

CService& RunningService(const FuzzAccount& account) {
  static std::unique_ptr<CService> service = [&] {
    ServiceOptions options;
    options.dataFolder = account.folder();
    options.port = 0;
    options.maxBody = 64 * 1024;  // small enough that inputs reach the limit
    options.threads = 2;
    auto started = std::make_unique<CService>(options);
    std::string error;
    if (!started->Start(error)) std::abort();
    return started;
  }();
  return *service;
}

// A whole HTTP answer has come: its head and as many bytes as its
// Content-Length names (the service keeps the connection open after it).
bool AnswerComplete(const std::string& answer) {
  const std::size_t headEnd = answer.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  std::string head = answer.substr(0, headEnd);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t field = head.find("\r\ncontent-length:");
  if (field == std::string::npos) return true;
  const std::size_t length = std::strtoul(head.c_str() + field + 17, nullptr, 10);
  return answer.size() >= headEnd + 4 + length;
}

void Exchange(int port, const std::string& bytes) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      const ssize_t put = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[65536];
    pollfd ready{fd, POLLIN, 0};
    // A request cut short gets no answer: the service waits for the rest
    // until its connection time-out, long after the input has taught
    // anything.
    while (!AnswerComplete(answer) && ::poll(&ready, 1, 250) == 1) {
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const FuzzAccount account;
  CService& service = RunningService(account);
  Exchange(service.Port(), account.Fill(std::string(reinterpret_cast<const char*>(data), size)));
  return 0;
}
