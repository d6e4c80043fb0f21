#include "engine/PathSafety.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsControl(char c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

// Every component of path[from..] is a usable name.
bool ComponentsAreSafe(const std::string& path, std::size_t from) {
  if (from >= path.size()) return false;
  std::size_t start = from;
  for (std::size_t i = from; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) {
      if (IsControl(path[i])) return false;
      continue;
    }
    const std::string component = path.substr(start, i - start);
    if (component.empty() || component == "." || component == "..") return false;
    start = i + 1;
  }
  return true;
}

}  // namespace

bool IsSafeRelativePath(const std::string& path) {
  return !path.empty() && path[0] == '/' && ComponentsAreSafe(path, 1);
}

bool IsSafeServerPath(const std::string& path) {
  return !path.empty() && !IsSeparator(path[0]) && ComponentsAreSafe(path, 0);
}

const char* UnsafePathReason(const std::string& path) {
  for (const char c : path) {
    if (IsControl(c)) return "its name holds a control character";
  }
  return "its path leaves the user folder";
}

std::string PrintablePath(const std::string& path) {
  std::string printable = path;
  for (char& c : printable) {
    if (IsControl(c)) c = '?';
  }
  return printable;
}

const NameProblem* ServerNameProblem(const std::string& serverPath) {
  static constexpr std::size_t kLongestServerPath = 2048;
  static const NameProblem kBackslash{"its name holds a backslash", "名称中含有反斜杠“\\”"};
  static const NameProblem kControl{"its name holds a control character", "名称中含有控制字符（如换行）"};
  static const NameProblem kLong{"its path is longer than 2048 bytes", "路径长度超过 2048 字节"};
  for (const char c : serverPath) {
    if (IsControl(c)) return &kControl;
  }
  if (serverPath.find('\\') != std::string::npos) return &kBackslash;
  if (serverPath.size() > kLongestServerPath) return &kLong;
  return nullptr;
}
