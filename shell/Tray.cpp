#include "shell/Tray.h"

#include <QMenu>

#include "shell/Icons.h"
#include "shell/LocalText.h"

CTray::CTray(QObject* parent) : QObject(parent), probe_(&QSystemTrayIcon::isSystemTrayAvailable) {
  blink_.setInterval(tray::kBlinkPeriodMs);
  connect(&blink_, &QTimer::timeout, this, &CTray::BlinkTick);
  watch_.setInterval(tray::kTrayWatchMs);
  connect(&watch_, &QTimer::timeout, this, &CTray::CheckTrayAvailability);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) emit doubleClicked();
  });
}

CTray::~CTray() {
  blink_.stop();
  icon_.hide();
}

void CTray::Show() {
  icon_.setIcon(ResourceIcon(state_.Icon()));
  icon_.setToolTip(QString::fromStdString(state_.ToolTip()));
}

void CTray::Add() {
  state_.Added();
  Show();
  icon_.show();
  trayWasThere_ = probe_();
  watch_.start();
}

void CTray::LoggedOut() {
  state_.LoggedOut();
  Show();
}

void CTray::LoggedIn(const std::string& user) {
  state_.LoggedIn(CutUtf8(user, tray::kToolTipBytes));
  Show();
}

void CTray::SetState(int state, const std::string& tip) {
  blink_.stop();
  state_.SetState(state, CutUtf8(tip, tray::kToolTipBytes));
  if (state_.Blinking()) blink_.start();
  Show();
}

void CTray::SetToolTip(const std::string& tip) {
  state_.SetToolTip(CutUtf8(tip, tray::kToolTipBytes));
  Show();
}

void CTray::StopBlinking() {
  blink_.stop();
  state_.StopBlinking();
}

void CTray::BlinkTick() {
  state_.Tick();
  Show();
}

void CTray::ShowBalloon(const std::string& text, const std::string& title, int timeoutMs) {
  lastBalloon_ = {CutUtf8(text, tray::kBalloonTextBytes), CutUtf8(title, tray::kBalloonTitleBytes), timeoutMs};
  ++balloons_;
  icon_.showMessage(QString::fromStdString(lastBalloon_.title), QString::fromStdString(lastBalloon_.text),
                    QSystemTrayIcon::Information, timeoutMs);
}

void CTray::SetContextMenu(QMenu* menu) { icon_.setContextMenu(menu); }

void CTray::CheckTrayAvailability() {
  const bool there = probe_();
  if (there && !trayWasThere_) {
    // A new tray knows nothing of this icon: add it afresh, as at start
    // (a running blink goes on with its next tick).
    icon_.hide();
    state_.Added();
    Show();
    icon_.show();
  }
  trayWasThere_ = there;
}
