#pragma once
// Start at log-on: the XDG autostart entry $XDG_CONFIG_HOME/autostart/vessa.desktop
// (default ~/.config/autostart). Its presence is the setting.
#include <string>

namespace platform {

std::string AutostartFile();

// True when the entry exists.
bool AutostartEnabled();

// Writes the entry so that the session starts `program` (a full path) at
// log-on, creating the folder when missing; the file is replaced whole.
// False when it cannot be written or the path holds a line break.
bool EnableAutostart(const std::string& program);

// Removes the entry. True when no entry is left.
bool DisableAutostart();

// The Exec value that starts `program` with no arguments: quoted and escaped
// as desktop entries require.
std::string AutostartExecValue(const std::string& program);

}  // namespace platform
