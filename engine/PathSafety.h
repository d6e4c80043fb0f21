#pragma once
// The check every local write of the sync engine passes: a path that comes
// from the service may name an entry inside the user folder only. Paths use
// "/"; a "\" counts as a separator too, since path conversions turn it into
// one.
#include <string>

// A path relative to the user folder ("/docs/a.txt"): one leading "/", then
// components that are neither empty, "." nor "..", and no NUL or other
// control byte anywhere. The folder itself ("/" or "") is refused: nothing
// may replace it.
bool IsSafeRelativePath(const std::string& path);

// A server path below a tree ("R/docs/a.txt", "77/x.txt"): the same rules
// for every component, and no leading "/".
bool IsSafeServerPath(const std::string& path);

// Why a path failed the checks above, for the log: "its name holds a control
// character" or "its path leaves the user folder".
const char* UnsafePathReason(const std::string& path);

// The path as a log line may show it: control bytes written as "?".
std::string PrintablePath(const std::string& path);

// Why the service cannot store an entry under `serverPath` (a backslash or a
// control byte in it, or more than 2048 bytes), or null when nothing in the
// name stands against it: `log` in English, `shown` for the user (UTF-8).
struct NameProblem {
  const char* log;
  const char* shown;
};
const NameProblem* ServerNameProblem(const std::string& serverPath);
