#include "shell/TrayIconState.h"

void CTrayIconState::Added() {
  icon_ = tray::kNormalIcon;
  tip_ = tray::kDefaultTip;
}

void CTrayIconState::LoggedOut() {
  icon_ = tray::kLoggedOutIcon;
  tip_ = tray::kDefaultTip;
}

void CTrayIconState::LoggedIn(const std::string& user) {
  icon_ = tray::kNormalIcon;
  tip_ = user;
}

void CTrayIconState::SetState(int state, const std::string& tip) {
  blinking_ = false;
  if (state == 1) {
    blinking_ = true;
  } else if (state == 2) {
    icon_ = tray::kSyncedIcon;
  } else {
    icon_ = tray::kNormalIcon;
  }
  if (!tip.empty()) tip_ = tip;
}

void CTrayIconState::Tick() {
  if (!blinking_) return;
  icon_ = toggle_ == 0 ? tray::kBlinkIconB : tray::kBlinkIconA;
  toggle_ ^= 1;
}
