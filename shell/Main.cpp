// vessa: the desktop client. It lives in the notification area; its main
// window stays hidden.
#include <QApplication>
#include <clocale>

#include "shell/VorClientApp.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the local code page of the engine's texts
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  CVorClientApp app;
  if (!app.Start()) return app.ExitRequested() ? 0 : 1;
  if (app.ExitRequested()) return 0;
  return QApplication::exec();
}
