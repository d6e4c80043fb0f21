#pragma once
// Splitting a fuzz input into the pieces a target feeds its parser.
#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzInput {
  unsigned selector = 0;    // the first byte: which parser or endpoint
  std::string head;         // up to the first line feed after it (a content type, a header)
  std::string rest;         // the remaining bytes (a body)
};

inline FuzzInput SplitFuzzInput(const uint8_t* data, std::size_t size) {
  FuzzInput input;
  if (size == 0) return input;
  input.selector = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t newline = text.find('\n');
  input.head = text.substr(0, newline);
  input.rest = newline == std::string::npos ? std::string() : text.substr(newline + 1);
  return input;
}
