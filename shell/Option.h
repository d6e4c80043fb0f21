#pragma once
// The options dialog "选项": the proxy page (saved on OK) and the other
// options page (the notices switch, which acts at once, and the move of the
// data folder). Both pages read the configuration of the worker that is
// current when they act, since a move replaces the worker.
#include <QDialog>
#include <QString>
#include <functional>

#include "shell/ProxyForm.h"

class CConfig;
class CVorClientApp;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace other {
constexpr int kNoticesBox = 1015;
constexpr int kMoveButton = 1017;
constexpr int kFolderEdit = 1020;
// How long a move waits for the worker to log out before it gives up.
constexpr int kLogoutWaitMs = 30000;
}  // namespace other

class COptionProxy : public QWidget {
  Q_OBJECT
 public:
  COptionProxy(CVorClientApp& app, QWidget* parent = nullptr);

  ProxyForm Take() const;
  void Fill(const ProxyForm& form);
  // Shows the first problem (focus and message box); true when valid.
  bool Validate();
  // Saves the page into the current worker's configuration.
  bool Apply();

 private:
  void OnUseClicked();
  void OnTypeChanged();

  CVorClientApp& app_;
  QCheckBox* use_ = nullptr;
  QComboBox* type_ = nullptr;
  QLineEdit* host_ = nullptr;
  QLineEdit* port_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
};

class COtherOptions : public QWidget {
  Q_OBJECT
 public:
  // Asks for the folder to move the data to ("" when cancelled).
  using FolderPicker = std::function<QString(QWidget* parent)>;

  COtherOptions(CVorClientApp& app, QWidget* parent = nullptr);

  // Reads the notices switch and the data folder from the configuration.
  void Fill();
  // The move of the data folder (button 1017).
  void OnBnClickedButton1();

  // Replaces the folder dialog (tests choose the folder themselves); null
  // brings the dialog back.
  static void SetFolderPicker(FolderPicker picker);

 private:
  void OnNoticesClicked();
  void MoveTo(const std::string& oldFolder, const std::string& newFolder);

  CVorClientApp& app_;
  QCheckBox* notices_ = nullptr;
  QLineEdit* folder_ = nullptr;
  QPushButton* move_ = nullptr;
};

class COption : public QDialog {
  Q_OBJECT
 public:
  explicit COption(CVorClientApp& app, QWidget* parent = nullptr);

  COptionProxy* ProxyPage() const { return proxy_; }
  COtherOptions* OtherPage() const { return other_; }
  QTabWidget* Sheet() const { return sheet_; }

  // OK: a valid proxy page is applied and the dialog closes.
  void accept() override;

 private:
  QTabWidget* sheet_ = nullptr;
  COptionProxy* proxy_ = nullptr;
  COtherOptions* other_ = nullptr;
};
