// vessa-screenshot-tour: runs the desktop client's start-up against a service
// and walks through its windows the way a user would, saving each as a PNG:
//   login.png  options-proxy.png  options-other.png  about.png  main.png
// scripts/screenshots runs it on a virtual X server. The tray menu cannot be
// clicked there (no panel hosts the icon), so the tour gives the same
// commands the menu items give.
//
// usage: vessa-screenshot-tour --auth-server URL --user NAME --password PW --out DIR
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "engine/Work.h"
#include "foundation/Config.h"
#include "platform/Paths.h"
#include "shell/AboutDlg.h"
#include "shell/Commands.h"
#include "shell/DialogKit.h"
#include "shell/LoginDlg.h"
#include "shell/MainFrame.h"
#include "shell/Option.h"
#include "shell/Tray.h"
#include "shell/VorClientApp.h"

namespace {

constexpr int kTickMs = 250;
constexpr int kGiveUpMs = 120000;

struct Options {
  std::string authServer;
  std::string user;
  std::string password;
  QString out;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--auth-server") options.authServer = argv[i + 1];
    else if (name == "--user") options.user = argv[i + 1];
    else if (name == "--password") options.password = argv[i + 1];
    else if (name == "--out") options.out = QString::fromLocal8Bit(argv[i + 1]);
    else return false;
  }
  return !options.authServer.empty() && !options.user.empty() && !options.out.isEmpty();
}

// The client finds its settings in client.db under the default data folder:
// only the authentication server is set, so the login dialog opens.
bool SeedSettings(const std::string& authServer) {
  const std::string folder = platform::HomeDir() + "/Vessa/.db";
  if (!platform::MakeDirs(folder)) return false;
  CConfig config;
  if (!config.Init(folder + "/client.db") || !config.Load()) return false;
  config.Set(CConfig::kAuthServer, authServer);
  return config.Store() != 0;
}

// One step after another, each waiting until its window is there.
class CTour : public QObject {
 public:
  CTour(CVorClientApp& app, Options options) : app_(app), options_(std::move(options)) {
    connect(&timer_, &QTimer::timeout, this, &CTour::Tick);
    timer_.start(kTickMs);
    clock_.start();
  }
  bool Done() const { return step_ == kDone; }
  int Shots() const { return shots_; }

 private:
  enum Step { kLogin, kLoginShot, kIdle, kProxy, kProxyShot, kOtherShot, kAbout, kMain, kMainShot, kDone };

  template <typename T>
  T* Modal() const {
    return qobject_cast<T*>(QApplication::activeModalWidget());
  }

  void Shoot(QWidget* window, const char* name) {
    QPixmap picture;
    if (QScreen* screen = window->screen()) picture = screen->grabWindow(window->winId());
    if (picture.isNull()) picture = window->grab();
    const QString path = options_.out + "/" + name;
    if (picture.save(path, "PNG")) {
      ++shots_;
      std::printf("wrote %s (%dx%d)\n", path.toLocal8Bit().constData(), picture.width(), picture.height());
    } else {
      std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
    }
  }

  void Later(std::function<void()> action) { QTimer::singleShot(0, this, std::move(action)); }

  void Tick() {
    if (clock_.elapsed() > kGiveUpMs) {
      std::fprintf(stderr, "the tour is stuck at step %d\n", step_);
      step_ = kDone;
      app_.Exit();
      return;
    }
    switch (step_) {
      case kLogin:
        if (auto* login = Modal<CLoginDlg>()) {
          FindControl<QLineEdit>(login, login::kUserEdit)->setText(QString::fromStdString(options_.user));
          FindControl<QLineEdit>(login, login::kPasswordEdit)->setText(QString::fromStdString(options_.password));
          FindControl<QCheckBox>(login, login::kRememberBox)->setChecked(true);
          step_ = kLoginShot;
        }
        break;
      case kLoginShot:
        if (auto* login = Modal<CLoginDlg>()) {
          Shoot(login, "login.png");
          FindControl<QPushButton>(login, login::kOkButton)->click();  // closes when the worker has logged in
          step_ = kIdle;
        }
        break;
      case kIdle:
        if (CWork* work = app_.Work(); work && work->IsLoggedIn() && work->IsSyncEnabled() &&
                                       app_.Frame()->Tray().State().Icon() == tray::kSyncedIcon) {
          step_ = kProxy;
          Later([this] { app_.OnCommand(cmd::kOptions); });
        }
        break;
      case kProxy:
        if (auto* options = Modal<COption>()) {
          // The fields as a user fills them, so that they show enabled.
          FindControl<QCheckBox>(options, proxy::kUseBox)->click();
          auto* type = FindControl<QComboBox>(options, proxy::kTypeList);
          type->setCurrentIndex(0);
          emit type->activated(0);
          FindControl<QLineEdit>(options, proxy::kHostEdit)->setText("proxy.lan");
          step_ = kProxyShot;
        }
        break;
      case kProxyShot:
        if (auto* options = Modal<COption>()) {
          Shoot(options, "options-proxy.png");
          options->Sheet()->setCurrentIndex(1);
          step_ = kOtherShot;
        }
        break;
      case kOtherShot:
        if (auto* options = Modal<COption>()) {
          Shoot(options, "options-other.png");
          options->reject();
          step_ = kAbout;
          Later([this] { app_.OnCommand(cmd::kAbout); });
        }
        break;
      case kAbout:
        if (auto* about = Modal<CAboutDlg>()) {
          Shoot(about, "about.png");
          about->accept();
          step_ = kMain;
        }
        break;
      case kMain:
        if (!QApplication::activeModalWidget()) {
          app_.Frame()->show();  // hidden in normal use
          step_ = kMainShot;
        }
        break;
      case kMainShot:
        Shoot(app_.Frame(), "main.png");
        app_.Frame()->hide();
        step_ = kDone;
        app_.Exit();
        break;
      case kDone:
        break;
    }
  }

  CVorClientApp& app_;
  Options options_;
  QTimer timer_;
  QElapsedTimer clock_;
  Step step_ = kLogin;
  int shots_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: vessa-screenshot-tour --auth-server URL --user NAME --password PW --out DIR\n");
    return 2;
  }
  if (!QDir().mkpath(options.out) || !SeedSettings(options.authServer)) {
    std::fprintf(stderr, "vessa-screenshot-tour: cannot prepare the output or the settings\n");
    return 1;
  }
  constexpr int kExpectedShots = 5;
  CVorClientApp app;
  CTour tour(app, options);
  if (!app.Start()) return 1;
  if (!app.ExitRequested()) QApplication::exec();
  return tour.Done() && tour.Shots() == kExpectedShots ? 0 : 1;
}
