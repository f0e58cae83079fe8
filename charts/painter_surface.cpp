#include "charts/painter_surface.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>

namespace plotwell {

namespace {

QColor ToQColor(Color c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

}  // namespace

QPainterSurface::QPainterSurface(QPainter& painter)
    : painter_(painter) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, true);
  painter_.setBackgroundMode(Qt::TransparentMode);
}

QPainterSurface::~QPainterSurface() { painter_.restore(); }

QFont QPainterSurface::ResolveFont(const FontSpec& spec) {
  QFont font;
  if (spec.family.isEmpty()) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
      font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    }
  } else {
    font = QFont(spec.family);
    font.setStyleHint(QFont::SansSerif);
  }
  if (spec.pixelHeight > 0) font.setPixelSize(spec.pixelHeight);
  font.setWeight(static_cast<QFont::Weight>(spec.weight));
  return font;
}

const QFontMetrics& QPainterSurface::Use(const FontSpec& spec) {
  if (!metrics_ || !(spec == spec_)) {
    spec_ = spec;
    font_ = ResolveFont(spec);
    metrics_.emplace(font_, painter_.device());
  }
  painter_.setFont(font_);
  return *metrics_;
}

void QPainterSurface::FillBox(int x, int y, int width, int height, Color color) {
  painter_.fillRect(QRect(x, y, width, height), ToQColor(color));
}

void QPainterSurface::StrokeLine(Point from, Point to, Color color, int width) {
  QPen pen(ToQColor(color));
  pen.setWidth(std::max(width, 1));
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  painter_.setPen(pen);
  painter_.setBrush(Qt::NoBrush);
  painter_.drawLine(QPoint(from.x, from.y), QPoint(to.x, to.y));
}

void QPainterSurface::Ellipse(const Rect& bounds, Color pen, Color fill) {
  if (bounds.Width() <= 0 || bounds.Height() <= 0) return;
  QPen outline(ToQColor(pen));
  outline.setWidth(1);
  painter_.setPen(outline);
  painter_.setBrush(ToQColor(fill));
  painter_.drawEllipse(QRect(bounds.left, bounds.top, bounds.Width() - 1, bounds.Height() - 1));
}

void QPainterSurface::Text(const FontSpec& font, Point topLeft, const QString& text,
                           Color color) {
  const QFontMetrics& m = Use(font);
  painter_.setPen(ToQColor(color));
  painter_.drawText(QPoint(topLeft.x, topLeft.y + m.ascent()), text);
}

void QPainterSurface::UpwardText(const FontSpec& font, Point start, const QString& text,
                                 Color color) {
  const QFontMetrics& m = Use(font);
  painter_.save();
  painter_.setPen(ToQColor(color));
  painter_.translate(start.x, start.y);
  painter_.rotate(-90);
  painter_.drawText(QPoint(0, m.ascent()), text);
  painter_.restore();
}

void QPainterSurface::CentredText(const FontSpec& font, const Rect& box, const QString& text,
                                  Color color) {
  if (box.Width() <= 0 || box.Height() <= 0 || text.isEmpty()) return;
  const QFontMetrics& m = Use(font);
  const QString shown = m.elidedText(text, Qt::ElideRight, box.Width());
  const QRect r(box.left, box.top, box.Width(), box.Height());
  painter_.save();
  painter_.setClipRect(r, Qt::IntersectClip);
  painter_.setPen(ToQColor(color));
  painter_.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, shown);
  painter_.restore();
}

}  // namespace plotwell
