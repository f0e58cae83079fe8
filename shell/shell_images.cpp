#include "shell/shell_images.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace weavil {
namespace {

QPixmap Blank(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A 16-pixel transparent image with what paint draws on it.
template <class Paint>
QPixmap Icon(Paint paint) {
  QPixmap pixmap = Blank(16);
  QPainter p(&pixmap);
  paint(p);
  p.end();
  return pixmap;
}

// A closed folder: the group rows.
void PaintGroup(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QColor(128, 96, 0));
  p.setBrush(QColor(255, 214, 92));
  p.drawRect(1, 4, 13, 9);
  p.drawRect(1, 2, 5, 2);
  p.setPen(QColor(255, 240, 180));
  p.drawLine(2, 5, 13, 5);
}

// A visitor: a head and shoulders on a page.
void PaintVisitor(QPainter& p, QColor body, QColor outline) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(outline);
  p.setBrush(body.lighter(130));
  p.drawEllipse(QRectF(5, 1.5, 6, 6));
  QPainterPath shoulders;
  shoulders.moveTo(2.5, 14.5);
  shoulders.cubicTo(2.5, 8.5, 13.5, 8.5, 13.5, 14.5);
  shoulders.closeSubpath();
  p.setBrush(body);
  p.drawPath(shoulders);
}

// A robot: square head with an antenna and two eyes.
void PaintRobot(QPainter& p) {
  p.setPen(QColor(64, 64, 64));
  p.setBrush(QColor(176, 176, 176));
  p.drawLine(8, 0, 8, 3);
  p.drawRect(3, 3, 10, 8);
  p.drawRect(5, 12, 6, 3);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 0, 0));
  p.drawRect(5, 5, 2, 2);
  p.drawRect(10, 5, 2, 2);
  p.setBrush(QColor(64, 64, 64));
  p.drawRect(6, 9, 5, 1);
}

// A page with a folded corner: leaf rows.
void PaintLeaf(QPainter& p) {
  QPolygon page;
  page << QPoint(3, 1) << QPoint(10, 1) << QPoint(13, 4) << QPoint(13, 14) << QPoint(3, 14);
  p.setPen(QColor(96, 96, 96));
  p.setBrush(Qt::white);
  p.drawPolygon(page);
  p.drawLine(10, 1, 10, 4);
  p.drawLine(10, 4, 13, 4);
  p.setPen(QColor(64, 112, 192));
  for (int y = 6; y <= 12; y += 2) p.drawLine(5, y, 11, y);
}

// A small filled triangle, pointing down (descending) or up (ascending).
void PaintMark(QPainter& p, bool down) {
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(96, 96, 96));
  QPolygonF triangle;
  if (down) triangle << QPointF(4, 6) << QPointF(12, 6) << QPointF(8, 11);
  else triangle << QPointF(4, 11) << QPointF(12, 11) << QPointF(8, 6);
  p.drawPolygon(triangle);
}

}  // namespace

const QPixmap& TreeImage(int index) {
  static const std::array<QPixmap, kTreeImageCount> images = {
      Icon(PaintGroup), Icon([](QPainter& p) { PaintVisitor(p, QColor(48, 96, 200), QColor(16, 48, 120)); }),
      Icon(PaintRobot), Icon(PaintLeaf), Icon(PaintLeaf)};
  if (index < 0 || index >= kTreeImageCount) index = 4;
  return images[static_cast<size_t>(index)];
}

const QPixmap& SortMarkImage(int index) {
  static const std::array<QPixmap, 3> marks = {Blank(16), Icon([](QPainter& p) { PaintMark(p, true); }),
                                                Icon([](QPainter& p) { PaintMark(p, false); })};
  if (index < 0 || index > 2) index = 0;
  return marks[static_cast<size_t>(index)];
}

// The program icon on a 32-unit grid: a rounded card, five bars of a chart (the fourth
// in the weekend colour) and a thread woven over them. The picture and the SVG file
// installed for the desktop are drawn from these same numbers.
namespace {

constexpr QRgb kIconFrame = 0xFF283C6E, kIconCard = 0xFFEBF0FA, kIconBar = 0xFF285AAA, kIconAltBar = 0xFF8888FF,
               kIconThread = 0xFFC81E1E;
constexpr int kIconBarHeights[] = {9, 15, 11, 21, 17};

QPainterPath IconThread() {
  QPainterPath thread;
  thread.moveTo(4, 20);
  thread.cubicTo(10, 8, 16, 24, 22, 10);
  thread.cubicTo(24, 6, 27, 6, 28, 8);
  return thread;
}

std::string SvgColour(QRgb colour) { return QColor(colour).name().toStdString(); }

}  // namespace

QImage ProgramIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  qreal s = size / 32.0;
  p.scale(s, s);
  p.setPen(QPen(QColor(kIconFrame), 1.5));
  p.setBrush(QColor(kIconCard));
  p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 4, 4);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 5; ++i) {
    p.setBrush(QColor(i == 3 ? kIconAltBar : kIconBar));
    p.drawRect(QRectF(5 + i * 4.6, 27 - kIconBarHeights[i], 3.4, kIconBarHeights[i]));
  }
  p.setPen(QPen(QColor(kIconThread), 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(IconThread());
  return image;
}

std::string ProgramIconSvg() {
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 32 32\">\n"
      "  <rect x=\"1.5\" y=\"1.5\" width=\"29\" height=\"29\" rx=\"4\" ry=\"4\" fill=\"" +
      SvgColour(kIconCard) + "\" stroke=\"" + SvgColour(kIconFrame) + "\" stroke-width=\"1.5\"/>\n";
  for (int i = 0; i < 5; ++i) {
    svg += "  <rect x=\"" + QString::number(5 + i * 4.6).toStdString() + "\" y=\"" +
           std::to_string(27 - kIconBarHeights[i]) + "\" width=\"3.4\" height=\"" +
           std::to_string(kIconBarHeights[i]) + "\" fill=\"" + SvgColour(i == 3 ? kIconAltBar : kIconBar) + "\"/>\n";
  }
  QPainterPath thread = IconThread();
  std::string d;
  for (int i = 0; i < thread.elementCount(); ++i) {
    QPainterPath::Element e = thread.elementAt(i);
    const char* op = e.isMoveTo() ? "M" : e.isLineTo() ? "L" : e.isCurveTo() ? "C" : " ";
    d += std::string(op) + QString::number(e.x).toStdString() + " " + QString::number(e.y).toStdString() + " ";
  }
  svg += "  <path d=\"" + d + "\" fill=\"none\" stroke=\"" + SvgColour(kIconThread) + "\" stroke-width=\"2\"/>\n</svg>\n";
  return svg;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
  return icon;
}

}  // namespace weavil
