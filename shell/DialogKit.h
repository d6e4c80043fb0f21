#pragma once
// Small pieces the dialogs share: controls named after their ids (so that
// tests and the code speak of "1000" the same way) and message boxes.
#include <QMessageBox>
#include <QString>
#include <QWidget>

// Object name of the control with id `id`: "ctl<id>".
QString ControlName(int id);

template <typename T>
T* NamedControl(T* control, int id) {
  control->setObjectName(ControlName(id));
  return control;
}

template <typename T>
T* FindControl(const QWidget* dialog, int id) {
  return dialog->findChild<T*>(ControlName(id));
}

// A modal box with the given icon, title and buttons; the button pressed.
QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const char* titleUtf8,
                                    const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);
