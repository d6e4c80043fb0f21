#pragma once
// The per-user values the installer leaves behind ("install_path", "root_path"),
// kept as "name=value" lines in ConfigDir()/registry.
#include <cstddef>
#include <string>

namespace platform {

std::string RegistryFile();

// Reads value `name`. Fails when the file or the value is missing, or when the
// value and its terminating NUL would not fit into `bufferSize` bytes, as a
// read into a fixed-size buffer does.
bool RegistryRead(const std::string& name, std::size_t bufferSize, std::string& value);

// Sets value `name`, creating the file (0600) and its folder (0700) when missing.
// The file is replaced whole, so a crash leaves the old or the new content.
// Names holding '=' and names or values holding a line break are refused.
bool RegistryWrite(const std::string& name, const std::string& value);

}  // namespace platform
