#include "shell/Commands.h"

bool IsCommandEnabled(int id, const WorkState& state) {
  switch (id) {
    case cmd::kLogin:
    case cmd::kTrayLogin:
      return state.workerExists && !state.loggedIn;
    case cmd::kLogout:
    case cmd::kTrayLogout:
    case cmd::kLocalFolder:
    case cmd::kWebFolder:
      return state.workerExists && state.loggedIn;
    case cmd::kSync:
    case cmd::kTraySync:
      return state.workerExists && state.syncEnabled;
    case cmd::kHelp:
    case cmd::kOptions:
    case cmd::kAbout:
    case cmd::kAboutMain:
    case cmd::kExit:
    case cmd::kOptionsButton:
    case cmd::kCheckUpdateButton:
      return true;
    default:
      return id >= cmd::kRecentFirst && id <= cmd::kRecentLast;
  }
}
