#include "shell/AboutDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/DialogKit.h"
#include "shell/Icons.h"
#include "shell/LocalText.h"
#include "shell/UpdateChecker.h"

namespace {

constexpr std::size_t kVersionLimit = 64;

}  // namespace

std::string AboutVersionText() {
  return CutUtf8(std::string("Version 1.0 (build ") + update::kBuildNumber + ")", kVersionLimit);
}

CAboutDlg::CAboutDlg(const std::string& webHost, QWidget* parent) : QDialog(parent), webHost_(webHost) {
  setWindowTitle("About Vessa");
  setWindowIcon(ResourceIcon(icon::kProgram));

  auto* picture = new QLabel(this);
  picture->setPixmap(ResourceIcon(icon::kProgram).pixmap(48, 48));
  auto* product = new QLabel(QString::fromUtf8("Vessa - Ordane Storage Service 客户端"), this);
  auto* version = NamedControl(new QLabel(QString::fromStdString(AboutVersionText()), this), about::kVersionLine);
  auto* address = new QLabel(QString::fromStdString(webHost_), this);
  address->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* notice = new QLabel(QString::fromUtf8("Copyright (C) Ordane. 保留所有权利。"), this);
  auto* ok = NamedControl(new QPushButton(QString::fromUtf8("确定"), this), 1);
  auto* check = NamedControl(new QPushButton(QString::fromUtf8("检查更新"), this), about::kCheckButton);
  ok->setDefault(true);

  auto* lines = new QVBoxLayout;
  for (QLabel* line : {product, version, address, notice}) lines->addWidget(line);
  auto* top = new QHBoxLayout;
  top->addWidget(picture, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(lines, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(check);
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(8);
  layout->addLayout(buttons);

  connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);
  connect(check, &QPushButton::clicked, this, [this] {
    CUpdateChecker checker(webHost_, false);
    checker.Check();  // the answer does not matter here
  });
}
