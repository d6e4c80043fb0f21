#include "shell/FileViews.h"

#include "shell/Icons.h"

namespace {

constexpr int kTreeImages[] = {icon::kTreeComputer, icon::kTreeFolder, icon::kTreeFolderOpen,
                               icon::kTreeFile, icon::kOverlaySharedTo, icon::kOverlaySharedFrom};
constexpr int kOverlay1Index = 4;
constexpr int kOverlay2Index = 5;

}  // namespace

CLeftView::CLeftView(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(true);  // buttons and lines at the root
  setIconSize(QSize(16, 16));
  for (const int id : kTreeImages) images_.append(ResourceIcon(id));
}

int CLeftView::OverlayImage(int overlay) const {
  if (overlay == 1) return kOverlay1Index;
  if (overlay == 2) return kOverlay2Index;
  return -1;
}

CVorClientView::CVorClientView(QWidget* parent) : QListWidget(parent) {}
