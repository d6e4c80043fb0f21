// vessa-make-icons OUTDIR: writes the folder icons the engine refers to
// (Home.ico, ShareTo.ico, ShareFrom.ico) into OUTDIR. Run by the build.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "shell/Icons.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vessa-make-icons OUTDIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) return 1;
  const struct {
    int id;
    const char* name;
  } files[] = {{icon::kHomeFolder, "Home.ico"}, {icon::kShareToFolder, "ShareTo.ico"},
               {icon::kShareFromFolder, "ShareFrom.ico"}};
  for (const auto& file : files) {
    if (!WriteIcoFile(file.id, folder + "/" + file.name)) {
      std::fprintf(stderr, "vessa-make-icons: cannot write %s\n", file.name);
      return 1;
    }
  }
  return 0;
}
