#pragma once
// How the worker reports to the user interface: synchronous notices (the
// worker waits until the receiver has handled each one) and posted answers to
// the window that made a login or logout request.
//
// The receiver must never wait for the worker while it handles a notice, and
// once the worker is being destroyed it should return at once instead of
// delivering (the destruction waits for the worker thread).
#include <cstdint>
#include <string>

#include "platform/Messages.h"

// One notice. Texts are in the local code page.
struct Notice {
  unsigned id = 0;    // WM_SHOW_STATUS, WM_SET_TRAY_STATE, WM_SHOW_BALLOON or WM_SETMESSAGESTRING
  int state = 0;      // WM_SET_TRAY_STATE: 0 idle or failed, 1 synchronising, 2 synchronised
  std::string text;   // tooltip (WM_SHOW_STATUS, WM_SET_TRAY_STATE), balloon text, status-bar text
  std::string title;  // WM_SHOW_BALLOON: the title
};

class INoticeSink {
 public:
  virtual ~INoticeSink() = default;

  virtual void Send(const Notice& notice) = 0;
  // The tray icon of a logged-in user (tooltip: the user name) and of nobody.
  virtual void ShowLoggedInIcon(const std::string& user) = 0;
  virtual void ShowLoggedOutIcon() = 0;
  // An answer (WM_WORK_LOGIN_DONE, WM_WORK_LOGOUT_DONE) to `window`, the
  // requester's handle as given with the request; 0 means nobody is waiting.
  // Never waits for the receiver.
  virtual void Post(uintptr_t window, unsigned message, uintptr_t wParam) = 0;
};
