#include "platform/Autostart.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/Paths.h"

namespace platform {

namespace {

std::string AutostartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string base = (config && *config) ? std::string(config) : HomeDir() + "/.config";
  return base + "/autostart";
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string AutostartFile() { return AutostartFolder() + "/vessa.desktop"; }

bool AutostartEnabled() { return access(AutostartFile().c_str(), F_OK) == 0; }

std::string AutostartExecValue(const std::string& program) {
  // Inside the quotes of an Exec argument, " ` $ and \ take a backslash; the
  // value as a whole is a desktop-entry string, whose own escaping doubles
  // every backslash again; "%" starts a field code and is written "%%".
  std::string quoted = "\"";
  for (const char c : program) {
    switch (c) {
      case '"': quoted += "\\\\\""; break;
      case '`': quoted += "\\\\`"; break;
      case '$': quoted += "\\\\$"; break;
      case '\\': quoted += "\\\\\\\\"; break;
      case '%': quoted += "%%"; break;
      default: quoted += c; break;
    }
  }
  return quoted + "\"";
}

bool EnableAutostart(const std::string& program) {
  if (program.empty() || program.find_first_of("\r\n") != std::string::npos) return false;
  if (!MakeDirs(AutostartFolder())) return false;
  const std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Vessa\n"
      "Comment=Ordane Storage Service\n"
      "Exec=" + AutostartExecValue(program) + "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  const std::string file = AutostartFile();
  const std::string temporary = file + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text);
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), file.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

bool DisableAutostart() {
  return unlink(AutostartFile().c_str()) == 0 || errno == ENOENT;
}

}  // namespace platform
