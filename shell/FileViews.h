#pragma once
// The two panes of the (hidden) main window: a folder tree and a file list.
// They are fixed furniture of the frame and are never filled.
#include <QIcon>
#include <QList>
#include <QListWidget>
#include <QTreeWidget>

class CLeftView : public QTreeWidget {
 public:
  explicit CLeftView(QWidget* parent = nullptr);

  // The tree's image list: icons 137, 139, 140, 144, 150, 151 in this order.
  const QList<QIcon>& Images() const { return images_; }
  // The image index of overlay 1 (icon 150) and 2 (icon 151); -1 for others.
  int OverlayImage(int overlay) const;

 private:
  QList<QIcon> images_;
};

class CVorClientView : public QListWidget {
 public:
  explicit CVorClientView(QWidget* parent = nullptr);
  QSize sizeHint() const override { return QSize(200, 300); }
};
