#pragma once
// The name this computer is registered under at the service by default.
#include <string>

namespace platform {

// The host name (gethostname); "" when it cannot be read.
std::string ComputerName();

}  // namespace platform
