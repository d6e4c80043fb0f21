#pragma once
// "About Vessa": the program icon, the product line, the version with its
// build number, the service's web address, and "检查更新", which runs the
// update check with its messages.
#include <QDialog>
#include <string>

class QLabel;

namespace about {
constexpr int kVersionLine = 1012;
constexpr int kCheckButton = 1013;
}  // namespace about

// "Version 1.0 (build 101203)"
std::string AboutVersionText();

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  // `webHost`: the site the address line shows and the check asks.
  explicit CAboutDlg(const std::string& webHost, QWidget* parent = nullptr);

 private:
  std::string webHost_;
};
