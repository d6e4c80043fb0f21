#include "platform/Registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/Paths.h"

namespace platform {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries ReadEntries(const std::string& file) {
  Entries entries;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    entries.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return entries;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool WriteWhole(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == content.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

std::string RegistryFile() { return ConfigDir() + "/registry"; }

bool RegistryRead(const std::string& name, std::size_t bufferSize, std::string& value) {
  for (const auto& [key, text] : ReadEntries(RegistryFile())) {
    if (key != name) continue;
    if (text.size() + 1 > bufferSize) return false;
    value = text;
    return true;
  }
  return false;
}

bool RegistryWrite(const std::string& name, const std::string& value) {
  if (name.empty() || name.find('=') != std::string::npos || HasLineBreak(name) ||
      HasLineBreak(value)) {
    return false;
  }
  if (!MakeDirs(ConfigDir())) return false;
  Entries entries = ReadEntries(RegistryFile());
  bool replaced = false;
  for (auto& entry : entries) {
    if (entry.first == name) {
      entry.second = value;
      replaced = true;
    }
  }
  if (!replaced) entries.emplace_back(name, value);
  std::ostringstream out;
  for (const auto& [key, text] : entries) out << key << '=' << text << '\n';
  return WriteWhole(RegistryFile(), out.str());
}

}  // namespace platform
