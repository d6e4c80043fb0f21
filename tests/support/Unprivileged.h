#pragma once
// Runs a check in a child process without root's power to ignore file
// permissions: as root the child switches to the "nobody" user first.
#include <functional>

// Returns the child's exit status (what `check` returned), or -1 when the
// child could not run or died.
int RunUnprivileged(const std::function<int()>& check);
