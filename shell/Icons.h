#pragma once
// The program's icons, drawn in code (no image files to ship): the tray
// states, the tree view's images and the folder icons the engine puts on the
// user folder and shared folders. Ids are the resource ids the rest of the
// program speaks of.
#include <QIcon>
#include <QImage>
#include <QString>
#include <vector>

namespace icon {
// Tray and program (see TrayIconState.h).
constexpr int kProgram = 128;
// Tree view images, in image-list order; 150 and 151 are its overlays 1 and 2.
constexpr int kTreeComputer = 137;
constexpr int kTreeFolder = 139;
constexpr int kTreeFolderOpen = 140;
constexpr int kTreeFile = 144;
constexpr int kOverlaySharedTo = 150;
constexpr int kOverlaySharedFrom = 151;
// Folder icons installed as res/Home.ico, res/ShareTo.ico, res/ShareFrom.ico.
constexpr int kHomeFolder = 1001;
constexpr int kShareToFolder = 1002;
constexpr int kShareFromFolder = 1003;
}  // namespace icon

// Every id this file can draw.
std::vector<int> KnownIconIds();

// The icon `id` drawn at `size` x `size` pixels; a null image for an unknown id.
QImage DrawIcon(int id, int size);

// DrawIcon at the usual sizes, cached.
QIcon ResourceIcon(int id);

// Writes icon `id` as a Windows .ico file (PNG images of 16, 32, 48 and 256
// pixels). False when it cannot be written.
bool WriteIcoFile(int id, const QString& path);
