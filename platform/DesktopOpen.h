#pragma once
// Opens a folder or a web page with the desktop's preferred program, the way
// a user's double click would: "xdg-open TARGET", started directly (no shell
// ever parses the target) and not waited for.
#include <string>

namespace platform {

// The program is looked up in PATH. False when it cannot be started; what
// the handler does afterwards is not reported.
bool OpenWithDesktop(const std::string& target);

}  // namespace platform
