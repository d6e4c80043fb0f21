#pragma once
// The application's log file, opened once per start by the desktop shell,
// by vessa-sync, or by the worker's login when the program has none yet:
//   <base>/.log/YYYY-MM-DD-hh-mm-ss.log  (local time of the start)
// where <base> is the registry's root_path when it is set and the folder
// exists or can be made, else the state folder. Logs older than 3 days are
// deleted first. The logger writes every level until the worker applies the
// configured log_level.
#include <memory>
#include <string>

class CLogger;

// The folder the next log goes to.
std::string AppLogFolder();

// The opened logger (the caller owns it and installs it with SetAppLogger),
// or null when the file cannot be opened; the logger has then printed why.
std::unique_ptr<CLogger> OpenAppLog();
