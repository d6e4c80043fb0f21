#pragma once
// The application's command ids (tray menu, main menu, dialog buttons that
// reach the application) and the rule that enables each one.

namespace cmd {

// Main menu "操作" and "帮助".
constexpr int kLogin = 32779;
constexpr int kLogout = 32780;
constexpr int kShare = 32781;     // no handler: always disabled
constexpr int kSync = 32782;
constexpr int kHistory = 32783;   // no handler
constexpr int kMainOptions = 32784;  // no handler
constexpr int kRegister = 32786;  // no handler
constexpr int kAboutMain = 57664;

// Tray menu.
constexpr int kTraySync = 32798;
constexpr int kTrayLogout = 32799;
constexpr int kTrayLogin = 32800;
constexpr int kExit = 32801;
constexpr int kLocalFolder = 32804;  // the default item
constexpr int kOptions = 32805;
constexpr int kAbout = 32811;
constexpr int kWebFolder = 32813;
constexpr int kHelp = 32818;

// The "文件更新(&U)" submenu: 32900 is the disabled "None", 32901..32909 the entries.
constexpr int kRecentNone = 32900;
constexpr int kRecentFirst = 32901;
constexpr int kRecentLast = 32909;

// Buttons of the dialogs that fall through to the application.
constexpr int kOptionsButton = 1010;
constexpr int kCheckUpdateButton = 1013;

}  // namespace cmd

// What the enable rules look at.
struct WorkState {
  bool workerExists = false;
  bool loggedIn = false;
  bool syncEnabled = false;  // logged in and no run in progress
};

// Whether command `id` may run in `state`; unknown ids are disabled.
bool IsCommandEnabled(int id, const WorkState& state);
