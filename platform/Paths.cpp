#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value && *value) ? std::string(value) : fallback;
}

}  // namespace

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string ConfigDir() {
  return EnvOr("XDG_CONFIG_HOME", HomeDir() + "/.config") + "/vessa";
}

std::string StateDir() {
  return EnvOr("XDG_STATE_HOME", HomeDir() + "/.local/state") + "/vessa";
}

std::string ProgramDir() {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : program.parent_path().string();
}

std::string DefaultInstallDir() {
  const std::string programDir = ProgramDir();
  const std::string shared = programDir + "/../share/vessa";
  std::error_code ec;
  return std::filesystem::is_directory(shared, ec) ? shared : programDir;
}

bool MakeDirs(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path);
  fs::path built;
  for (const fs::path& part : target) {
    built /= part;
    if (fs::is_directory(built, ec)) continue;
    const bool created = fs::create_directory(built, ec);
    if (ec) return false;
    if (created) fs::permissions(built, fs::perms::owner_all, ec);
  }
  return fs::is_directory(target, ec);
}

}  // namespace platform
