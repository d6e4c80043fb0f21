#include "shell/DialogKit.h"

QString ControlName(int id) { return QStringLiteral("ctl%1").arg(id); }

QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const char* titleUtf8,
                                    const QString& text, QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, QString::fromUtf8(titleUtf8), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}
