#pragma once
// What the tray icon shows, as icon resource ids, and the blink animation of
// a synchronisation; the widget side (TrayIcon.h) only mirrors this state.
//
//   added / taskbar back   128 with the default tooltip
//   logged out             157 with the default tooltip
//   logged in              128 with the user name
//   tray state 0 / 1 / 2   128 / blinking (unchanged until the first tick) / 156
//   blink ticks            154, 153, 154, ... every 500 ms
#include <string>

namespace tray {
constexpr int kNormalIcon = 128;
constexpr int kBlinkIconA = 153;
constexpr int kBlinkIconB = 154;
constexpr int kSyncedIcon = 156;
constexpr int kLoggedOutIcon = 157;
constexpr int kBlinkPeriodMs = 500;
constexpr const char* kDefaultTip = "Vessa - Ordane Storage Service";
}  // namespace tray

class CTrayIconState {
 public:
  int Icon() const { return icon_; }
  // UTF-8.
  const std::string& ToolTip() const { return tip_; }
  bool Blinking() const { return blinking_; }

  // The icon is (re)added to the tray.
  void Added();
  void LoggedOut();
  void LoggedIn(const std::string& user);
  // A tray-state notice; an empty tooltip leaves the tooltip as it is.
  void SetState(int state, const std::string& tip);
  // A status notice: the tooltip alone.
  void SetToolTip(const std::string& tip) { tip_ = tip; }
  // One period of the blink timer has passed (ignored when not blinking).
  void Tick();
  // The logout answer stops any blinking.
  void StopBlinking() { blinking_ = false; }

 private:
  int icon_ = tray::kNormalIcon;
  std::string tip_ = tray::kDefaultTip;
  bool blinking_ = false;
  int toggle_ = 0;  // the next blink frame: 0 -> 154, 1 -> 153
};
