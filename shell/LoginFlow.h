#pragma once
// What the login dialog does with its entries, apart from the widgets: what
// it opens with, when it must ask before switching users, and how a login is
// handed to the configuration and the worker. Texts in the local code page.
#include <string>

class CConfig;
class CWork;

struct LoginEntries {
  std::string user;
  std::string password;
  std::string hostName;
  bool remember = false;   // "记住密码"
  bool autostart = false;  // "开机启动"
};

// The login stored in client.db (the password decoded).
struct StoredLogin {
  std::string user;
  std::string password;
};

// What the dialog opens with: user, password and host name as stored (a
// missing host name becomes this computer's name, also set in the
// configuration's memory), autostart when the entry exists, remember when
// the password loaded at the worker's start is not empty.
LoginEntries LoadLoginEntries(CConfig& config);

StoredLogin ReadStoredLogin(CConfig& config);

// None of user, password and host name is empty.
bool IsComplete(const LoginEntries& entries);

// Another user than the stored one logs in: the question comes first.
bool AsksUserChange(const LoginEntries& entries, const StoredLogin& stored);

// Hands the login over once it is confirmed: a new user makes the next
// synchronisation a full first one; the worker gets the user and password;
// a host name is only set when none is; the autostart entry follows the box
// (starting `program`); without "记住密码" the configuration forgets the
// password, so the next store writes it empty, while the worker keeps its
// copy for this login.
void CommitLogin(CWork& work, const LoginEntries& entries, const StoredLogin& stored, const std::string& program);
