#pragma once
// What a handler gives the HTTP front to send, and what the front logs.
#include <string>
#include <utility>
#include <vector>

struct HttpAnswer {
  int status = 200;
  std::string contentType = "text/plain; charset=UTF-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// The facts of one request for its log line.
struct RequestNote {
  std::string operation;
  std::string user;
  std::string outcome;  // "OK" or "reason N"
  std::string detail;   // why, when the service knows more
};
