#pragma once
// The message numbers the threads of the client exchange: requests to the
// worker (posted to its CMessageQueue), its answers to a window, and its
// notices to the main frame. The values are those of the original window
// messages (WM_USER = 1024 based), so logs stay comparable.

// Requests to the worker thread.
constexpr unsigned WM_WORK_LOGIN = 1125;
constexpr unsigned WM_WORK_LOGOUT = 1126;  // the requester sets the cancel flag first
constexpr unsigned WM_WORK_SYNC = 1129;
constexpr unsigned WM_WORK_RENAME = 1132;
constexpr unsigned WM_WORK_CHANGED = 1325;  // the heartbeat saw a change on the service

// The worker's answers to the window that asked.
constexpr unsigned WM_WORK_LOGIN_DONE = 1225;
constexpr unsigned WM_WORK_LOGOUT_DONE = 1226;

// Notices to the main frame.
constexpr unsigned WM_SHOW_STATUS = 1274;     // tooltip text
constexpr unsigned WM_SET_TRAY_STATE = 1275;  // 0 idle or failed, 1 synchronising, 2 synchronised
constexpr unsigned WM_SHOW_BALLOON = 1277;
constexpr unsigned WM_SETMESSAGESTRING = 0x0362;  // status-bar text
