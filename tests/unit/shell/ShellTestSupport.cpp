#include "tests/unit/shell/ShellTestSupport.h"

#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>

#include "foundation/Config.h"
#include "foundation/Util.h"
#include "platform/Paths.h"

namespace {

// One QApplication for the program, made once HOME and XDG_* point at the
// test's own folders (the test main sets them before the tests run).
class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "shell_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

testing::Environment* const kQt = testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void Pump(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

ModalAnswerer::ModalAnswerer(std::vector<QMessageBox::StandardButton> answers) : answers_(std::move(answers)) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Look);
  timer_.start();
}

void ModalAnswerer::Look() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || !modal->isVisible()) return;
  if (std::find(handled_.begin(), handled_.end(), modal) != handled_.end()) return;
  handled_.emplace_back(modal);
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    boxes_.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (boxes_.size() <= answers_.size()) answer = answers_[boxes_.size() - 1];
    if (QAbstractButton* button = box->button(answer)) {
      button->click();
    } else {
      box->reject();
    }
    return;
  }
  if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    dialogs_.push_back(dialog->metaObject()->className());
    if (onDialog) {
      onDialog(dialog);
    } else {
      dialog->reject();
    }
  }
}

void ShellFixture::SetUp() {
  ASSERT_TRUE(CUtil::WriteRootPath(root_.path()));
  ScriptedReply refuse;
  refuse.status = 401;
  refuse.contentType = "text/plain";
  refuse.body = "refused";
  auth_.SetFallback(refuse);
  Seed({{CConfig::kAuthServer, auth_.Url("/vorportal/LoginServlet")}});
}

void ShellFixture::Seed(const std::map<std::string, std::string>& values) {
  ASSERT_TRUE(platform::MakeDirs(root_ / ".db"));
  CConfig config;
  ASSERT_TRUE(config.Init(root_ / ".db/client.db"));
  ASSERT_TRUE(config.Load());
  for (const auto& [key, value] : values) {
    if (key == CConfig::kProxyFlag) {
      config.SetProxyFlag(std::stoi(value));
    } else {
      config.Set(key, value);
    }
  }
  ASSERT_TRUE(config.Store());
  ASSERT_TRUE(config.StoreProxy());
}
