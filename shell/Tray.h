#pragma once
// The notification-area icon: mirrors a CTrayIconState onto a
// QSystemTrayIcon, runs the blink timer, shows balloons, and adds the icon
// again (normal icon, default tooltip) whenever a tray appears after having
// been gone, as when the panel restarts.
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <string>

#include "shell/TrayIconState.h"

class QMenu;

namespace tray {
constexpr std::size_t kToolTipBytes = 127;
constexpr std::size_t kBalloonTextBytes = 255;
constexpr std::size_t kBalloonTitleBytes = 63;
constexpr int kTrayWatchMs = 2000;
}  // namespace tray

struct BalloonShown {
  std::string text;   // UTF-8, as shown
  std::string title;
  int timeoutMs = 0;
};

class CTray : public QObject {
  Q_OBJECT
 public:
  explicit CTray(QObject* parent = nullptr);
  ~CTray() override;  // removes the icon

  // Texts are UTF-8; tooltips are cut to 127 bytes, balloons to 255 / 63.
  void Add();
  void LoggedOut();
  void LoggedIn(const std::string& user);
  void SetState(int state, const std::string& tip);
  void SetToolTip(const std::string& tip);
  void StopBlinking();
  void ShowBalloon(const std::string& text, const std::string& title, int timeoutMs);

  void SetContextMenu(QMenu* menu);

  const CTrayIconState& State() const { return state_; }
  const std::string& LastBalloonText() const { return lastBalloon_.text; }
  const BalloonShown& LastBalloon() const { return lastBalloon_; }
  int BalloonCount() const { return balloons_; }
  bool BlinkTimerActive() const { return blink_.isActive(); }
  int BlinkIntervalMs() const { return blink_.interval(); }

  // Whether a tray is there (QSystemTrayIcon::isSystemTrayAvailable unless replaced).
  void SetAvailabilityProbe(std::function<bool()> probe) { probe_ = std::move(probe); }
  // Looks for a tray that came back; the watch timer calls it.
  void CheckTrayAvailability();
  // The next blink frame (the blink timer calls it).
  void BlinkTick();

 signals:
  void doubleClicked();

 private:
  void Show();

  QSystemTrayIcon icon_;
  CTrayIconState state_;
  QTimer blink_;
  QTimer watch_;
  std::function<bool()> probe_;
  bool trayWasThere_ = false;
  BalloonShown lastBalloon_;
  int balloons_ = 0;
};
