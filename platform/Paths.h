#pragma once
// Where the program keeps per-user state on Linux (XDG base directories).
// Each function reads the environment on every call, so tests can point
// HOME and XDG_* at temporary folders.
#include <string>

namespace platform {

// $HOME, or the password database's home folder when HOME is unset.
std::string HomeDir();

// $XDG_CONFIG_HOME/vessa (default ~/.config/vessa): the registry file.
std::string ConfigDir();

// $XDG_STATE_HOME/vessa (default ~/.local/state/vessa): logs when no root folder is known.
std::string StateDir();

// The folder of the running program (from /proc/self/exe).
std::string ProgramDir();

// Where the installed program finds its resources when no install folder is
// registered: <program dir>/../share/vessa when it exists, else the program's
// own folder.
std::string DefaultInstallDir();

// Creates `path` and its missing parents; new folders are owner-only (0700).
bool MakeDirs(const std::string& path);

}  // namespace platform
