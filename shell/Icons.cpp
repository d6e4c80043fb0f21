#include "shell/Icons.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Everything is drawn on a 64 x 64 canvas and scaled.
constexpr double kCanvas = 64.0;

const QColor kBlue(38, 120, 214);
const QColor kBlueDark(20, 78, 150);
const QColor kGrey(150, 156, 163);
const QColor kGreyDark(100, 104, 110);
const QColor kGreen(46, 170, 80);
const QColor kFolder(240, 190, 70);
const QColor kFolderDark(196, 140, 30);
const QColor kWhite(255, 255, 255);

QPainterPath CloudPath() {
  QPainterPath cloud;
  cloud.setFillRule(Qt::WindingFill);
  cloud.addEllipse(QRectF(6, 26, 22, 22));
  cloud.addEllipse(QRectF(17, 13, 30, 30));
  cloud.addEllipse(QRectF(36, 24, 22, 22));
  cloud.addRoundedRect(QRectF(14, 32, 38, 16), 6, 6);
  return cloud.simplified();
}

void DrawCloud(QPainter& p, const QColor& fill, const QColor& edge) {
  p.setPen(QPen(edge, 2.5));
  p.setBrush(fill);
  p.drawPath(CloudPath());
}

// A thick arrow along the vertical centre of the cloud; up or down.
void DrawArrow(QPainter& p, bool up, const QColor& color) {
  QPainterPath arrow;
  const double tip = up ? 20 : 46;
  const double base = up ? 46 : 20;
  const double head = up ? tip + 10 : tip - 10;
  arrow.moveTo(32, tip);
  arrow.lineTo(42, head);
  arrow.lineTo(36, head);
  arrow.lineTo(36, base);
  arrow.lineTo(28, base);
  arrow.lineTo(28, head);
  arrow.lineTo(22, head);
  arrow.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  p.drawPath(arrow);
}

void DrawBadge(QPainter& p, const QColor& fill) {
  p.setPen(QPen(kWhite, 2.5));
  p.setBrush(fill);
  p.drawEllipse(QRectF(36, 36, 26, 26));
}

void DrawCheck(QPainter& p) {
  DrawBadge(p, kGreen);
  p.setPen(QPen(kWhite, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(42, 49), QPointF(47, 55), QPointF(56, 43)}));
}

void DrawMinus(QPainter& p) {
  DrawBadge(p, kGreyDark);
  p.setPen(QPen(kWhite, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(42, 49), QPointF(56, 49));
}

void DrawFolder(QPainter& p, bool open) {
  p.setPen(QPen(kFolderDark, 2));
  p.setBrush(kFolderDark);
  p.drawRoundedRect(QRectF(4, 12, 24, 12), 3, 3);
  p.setBrush(kFolder);
  if (open) {
    p.drawRoundedRect(QRectF(4, 18, 54, 36), 3, 3);
    p.setBrush(QColor(250, 214, 120));
    p.drawPolygon(QPolygonF({QPointF(12, 28), QPointF(62, 28), QPointF(56, 54), QPointF(4, 54)}));
  } else {
    p.drawRoundedRect(QRectF(4, 18, 56, 38), 3, 3);
  }
}

void DrawFile(QPainter& p) {
  QPainterPath page;
  page.moveTo(14, 4);
  page.lineTo(40, 4);
  page.lineTo(52, 16);
  page.lineTo(52, 60);
  page.lineTo(14, 60);
  page.closeSubpath();
  p.setPen(QPen(kGreyDark, 2));
  p.setBrush(kWhite);
  p.drawPath(page);
  p.drawLine(QPointF(40, 4), QPointF(40, 16));
  p.drawLine(QPointF(40, 16), QPointF(52, 16));
  p.setPen(QPen(kGrey, 3));
  for (int y = 26; y <= 50; y += 8) p.drawLine(QPointF(20, y), QPointF(46, y));
}

void DrawComputer(QPainter& p) {
  p.setPen(QPen(kGreyDark, 2));
  p.setBrush(kBlueDark);
  p.drawRoundedRect(QRectF(6, 8, 52, 36), 3, 3);
  p.setBrush(QColor(120, 180, 240));
  p.drawRect(QRectF(11, 13, 42, 26));
  p.setBrush(kGrey);
  p.drawRect(QRectF(26, 44, 12, 6));
  p.drawRoundedRect(QRectF(14, 50, 36, 6), 2, 2);
}

// A small corner arrow: out of the folder (shared by me) or into it.
void DrawShareArrow(QPainter& p, bool outgoing) {
  p.setPen(QPen(kWhite, 2));
  p.setBrush(outgoing ? kGreen : kBlue);
  p.drawEllipse(QRectF(2, 34, 28, 28));
  p.setPen(QPen(kWhite, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  if (outgoing) {
    p.drawLine(QPointF(10, 54), QPointF(22, 42));
    p.drawPolyline(QPolygonF({QPointF(13, 42), QPointF(22, 42), QPointF(22, 51)}));
  } else {
    p.drawLine(QPointF(22, 42), QPointF(10, 54));
    p.drawPolyline(QPolygonF({QPointF(10, 45), QPointF(10, 54), QPointF(19, 54)}));
  }
}

void DrawHome(QPainter& p) {
  p.setPen(QPen(kWhite, 2));
  p.setBrush(kBlue);
  p.drawPolygon(QPolygonF({QPointF(16, 46), QPointF(32, 30), QPointF(48, 46)}));
  p.drawRect(QRectF(21, 45, 22, 13));
  p.setBrush(kWhite);
  p.drawRect(QRectF(29, 49, 6, 9));
}

bool Paint(QPainter& p, int id) {
  switch (id) {
    case 128: DrawCloud(p, kBlue, kBlueDark); return true;
    case 153: DrawCloud(p, kBlue, kBlueDark); DrawArrow(p, true, kWhite); return true;
    case 154: DrawCloud(p, kBlue, kBlueDark); DrawArrow(p, false, kWhite); return true;
    case 156: DrawCloud(p, kBlue, kBlueDark); DrawCheck(p); return true;
    case 157: DrawCloud(p, kGrey, kGreyDark); DrawMinus(p); return true;
    case icon::kTreeComputer: DrawComputer(p); return true;
    case icon::kTreeFolder: DrawFolder(p, false); return true;
    case icon::kTreeFolderOpen: DrawFolder(p, true); return true;
    case icon::kTreeFile: DrawFile(p); return true;
    case icon::kOverlaySharedTo: DrawShareArrow(p, true); return true;
    case icon::kOverlaySharedFrom: DrawShareArrow(p, false); return true;
    case icon::kHomeFolder: DrawFolder(p, false); DrawHome(p); return true;
    case icon::kShareToFolder: DrawFolder(p, false); DrawShareArrow(p, true); return true;
    case icon::kShareFromFolder: DrawFolder(p, false); DrawShareArrow(p, false); return true;
    default: return false;
  }
}

QByteArray PngBytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

void AppendLe(QByteArray& out, quint32 value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::vector<int> KnownIconIds() {
  return {128, 153, 154, 156, 157, icon::kTreeComputer, icon::kTreeFolder, icon::kTreeFolderOpen, icon::kTreeFile,
          icon::kOverlaySharedTo, icon::kOverlaySharedFrom, icon::kHomeFolder, icon::kShareToFolder,
          icon::kShareFromFolder};
}

QImage DrawIcon(int id, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / kCanvas, size / kCanvas);
  const bool known = Paint(p, id);
  p.end();
  return known ? image : QImage();
}

QIcon ResourceIcon(int id) {
  static QHash<int, QIcon> cache;
  const auto found = cache.constFind(id);
  if (found != cache.constEnd()) return *found;
  QIcon result;
  for (const int size : {16, 22, 24, 32, 48, 64}) {
    const QImage image = DrawIcon(id, size);
    if (!image.isNull()) result.addPixmap(QPixmap::fromImage(image));
  }
  cache.insert(id, result);
  return result;
}

bool WriteIcoFile(int id, const QString& path) {
  const int sizes[] = {16, 32, 48, 256};
  QList<QByteArray> images;
  for (const int size : sizes) {
    const QImage image = DrawIcon(id, size);
    if (image.isNull()) return false;
    images.append(PngBytes(image));
  }
  // ICONDIR, one ICONDIRENTRY per image, then the PNG images themselves.
  QByteArray ico;
  AppendLe(ico, 0, 2);
  AppendLe(ico, 1, 2);
  AppendLe(ico, static_cast<quint32>(images.size()), 2);
  quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
  for (int i = 0; i < images.size(); ++i) {
    const int size = sizes[i];
    AppendLe(ico, size >= 256 ? 0 : size, 1);  // 0 means 256
    AppendLe(ico, size >= 256 ? 0 : size, 1);
    AppendLe(ico, 0, 1);   // no palette
    AppendLe(ico, 0, 1);
    AppendLe(ico, 1, 2);   // planes
    AppendLe(ico, 32, 2);  // bits per pixel
    AppendLe(ico, static_cast<quint32>(images[i].size()), 4);
    AppendLe(ico, offset, 4);
    offset += static_cast<quint32>(images[i].size());
  }
  for (const QByteArray& image : images) ico.append(image);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return file.write(ico) == ico.size() && file.flush();
}
