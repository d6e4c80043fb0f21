#pragma once
// What the shell tests share: the QApplication (offscreen platform) made once
// per test program, a waiting loop that keeps the events flowing, the
// answering of modal boxes and dialogs, and a fixture with a root folder of
// its own and a pre-seeded client.db.
#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/FakeOpener.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempDir.h"

// Processes events until `done` holds; false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// Processes events for `ms` milliseconds.
void Pump(int ms);

// A message box that was shown.
struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// While it lives, answers each modal message box with the next button of its
// script (Ok once the script is used up) and hands other modal dialogs to
// `onDialog` (which must close them; by default they are rejected).
class ModalAnswerer : public QObject {
 public:
  explicit ModalAnswerer(std::vector<QMessageBox::StandardButton> answers = {});

  std::function<void(QDialog*)> onDialog;
  const std::vector<SeenBox>& Boxes() const { return boxes_; }
  const std::vector<QString>& Dialogs() const { return dialogs_; }  // class names, in order

 private:
  void Look();

  std::vector<QMessageBox::StandardButton> answers_;
  std::vector<SeenBox> boxes_;
  std::vector<QString> dialogs_;
  QTimer timer_;
  std::vector<QPointer<QWidget>> handled_;
};

// A root folder of its own (registry root_path), client.db seeded with the
// given values before a worker starts, and an authentication server on
// loopback that refuses everyone (HTTP 401), so logins and the version query
// fail at once. Folders and pages go to a recording xdg-open.
class ShellFixture : public testing::Test {
 protected:
  void SetUp() override;

  // Sets configuration values in client.db ("auth_server" already points at
  // the refusing server).
  void Seed(const std::map<std::string, std::string>& values);
  std::string Root() const { return root_.path(); }

  TempDir root_;
  ScriptedServer auth_;
  FakeOpener opener_;
};
