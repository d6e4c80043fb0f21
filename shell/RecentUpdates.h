#pragma once
// The "文件更新(&U)" submenu of the tray: the newest entries of the worker's
// finished-files list ("<action> <absolute path>"), each opening the folder
// of its file.
#include <string>
#include <vector>

struct RecentUpdate {
  int id = 0;           // menu command 32901..32909
  std::string label;    // the whole entry
  std::string folder;   // what the command opens
};

// Takes up to 9 entries from the end of `finished` (oldest first), newest
// first; the i-th of them (1-based) gets id 32900 + i when it has a blank
// after its action word and a "/" after the first character of its path.
// An entry without them gets no item but still uses up its number.
std::vector<RecentUpdate> BuildRecentUpdates(const std::vector<std::string>& finished);
