#include "service/ServerPath.h"

#include <charconv>

namespace {

bool IsBadByte(unsigned char c) { return c < 0x20 || c == 0x7f || c == '\\'; }

// "/a/b" components: each non-empty, not "." or "..", no bad byte.
bool IsValidTreePath(const std::string& path) {
  if (path.empty()) return true;
  if (path.front() != '/') return false;
  size_t at = 1;
  for (;;) {
    const size_t slash = path.find('/', at);
    const std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) break;
    at = slash + 1;
  }
  for (const char c : path) {
    if (IsBadByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

bool SplitServerPath(const std::string& path, ServerPathParts& parts) {
  if (path.empty() || path.size() > kMaxServerPath) return false;
  const size_t slash = path.find('/');
  parts.head = path.substr(0, slash);
  parts.rest = slash == std::string::npos ? "" : path.substr(slash);
  if (parts.head.empty() || parts.head == "." || parts.head == "..") return false;
  for (const char c : parts.head) {
    if (IsBadByte(static_cast<unsigned char>(c))) return false;
  }
  if (slash != std::string::npos && parts.rest == "/") return false;
  return IsValidTreePath(parts.rest);
}

bool NormalizeTreePath(const std::string& text, std::string& treePath) {
  std::string path = text.empty() || text.front() == '/' ? text : "/" + text;
  if (path == "/") path.clear();
  if (path.size() > kMaxServerPath || !IsValidTreePath(path)) return false;
  treePath = path;
  return true;
}

bool ParseShareId(const std::string& text, int64_t& id) {
  if (text.empty() || text.size() > 10) return false;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.front() == '-' || text.front() == '+') {
    return false;
  }
  if (value < 2 || value > 2147483647) return false;
  id = value;
  return true;
}

std::string ParentPath(const std::string& treePath) {
  const size_t slash = treePath.rfind('/');
  return slash == std::string::npos ? "" : treePath.substr(0, slash);
}

std::string BaseName(const std::string& treePath) { return treePath.substr(treePath.rfind('/') + 1); }

bool IsBelow(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) { return path == folder || IsBelow(path, folder); }

std::string Rebase(const std::string& path, const std::string& from, const std::string& to) {
  return to + path.substr(from.size());
}

bool IsValidUserName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  if (name.front() == ' ' || name.back() == ' ') return false;
  bool digitsOnly = true;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsBadByte(byte) || c == '/' || c == ':' || c == '"') return false;
    if (c < '0' || c > '9') digitsOnly = false;
  }
  return !digitsOnly;
}
