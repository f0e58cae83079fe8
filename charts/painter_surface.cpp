#include "charts/painter_surface.h"

#include <algorithm>

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>

namespace plotwell {

namespace {

QColor ToQColor(Color c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// The classic 3-D frame colours: light, highlight, shadow, dark shadow.
const QColor kEdgeLight(0xE3, 0xE3, 0xE3);
const QColor kEdgeHighlight(0xFF, 0xFF, 0xFF);
const QColor kEdgeShadow(0xA0, 0xA0, 0xA0);
const QColor kEdgeDarkShadow(0x69, 0x69, 0x69);

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

void QPainterSurface::FillRect(const Rect& rect, Color color) {
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  painter_.fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()), ToQColor(color));
}

void QPainterSurface::DrawEdge(const Rect& rect, EdgeStyle style) {
  const auto frame = [&](const Rect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.Width() <= 0 || r.Height() <= 0) return;
    painter_.fillRect(QRect(r.left, r.top, r.Width() - 1, 1), topLeft);
    painter_.fillRect(QRect(r.left, r.top, 1, r.Height() - 1), topLeft);
    painter_.fillRect(QRect(r.left, r.bottom - 1, r.Width(), 1), bottomRight);
    painter_.fillRect(QRect(r.right - 1, r.top, 1, r.Height()), bottomRight);
  };
  frame(rect, kEdgeLight, kEdgeDarkShadow);
  if (style == EdgeStyle::Raised) {
    frame(rect.Inset(1, 1), kEdgeHighlight, kEdgeShadow);
  } else {
    frame(rect.Inset(1, 1), kEdgeShadow, kEdgeHighlight);
  }
}

void QPainterSurface::Line(Point from, Point to, Color color, int width) {
  if (width <= 1) {
    // Straight runs exactly as the geometry expects: the end point is left out.
    if (from.y == to.y) {
      if (from.x == to.x) return;
      const int left = std::min(from.x, to.x + 1);
      const int right = from.x < to.x ? to.x : from.x + 1;
      painter_.fillRect(QRect(left, from.y, right - left, 1), ToQColor(color));
      return;
    }
    if (from.x == to.x) {
      const int top = std::min(from.y, to.y + 1);
      const int bottom = from.y < to.y ? to.y : from.y + 1;
      painter_.fillRect(QRect(from.x, top, 1, bottom - top), ToQColor(color));
      return;
    }
  }
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

void QPainterSurface::Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) {
  if (bounds.Width() <= 0 || bounds.Height() <= 0) return;
  const int w = std::max(penWidth, 1);
  const QColor outline = ToQColor(pen);
  if (bounds.Width() <= 2 * w || bounds.Height() <= 2 * w) {
    painter_.fillRect(QRect(bounds.left, bounds.top, bounds.Width(), bounds.Height()), outline);
    return;
  }
  painter_.fillRect(QRect(bounds.left + w, bounds.top + w, bounds.Width() - 2 * w,
                          bounds.Height() - 2 * w),
                    ToQColor(fill));
  painter_.fillRect(QRect(bounds.left, bounds.top, bounds.Width(), w), outline);
  painter_.fillRect(QRect(bounds.left, bounds.bottom - w, bounds.Width(), w), outline);
  painter_.fillRect(QRect(bounds.left, bounds.top + w, w, bounds.Height() - 2 * w), outline);
  painter_.fillRect(QRect(bounds.right - w, bounds.top + w, w, bounds.Height() - 2 * w),
                    outline);
}

void QPainterSurface::SetPixel(Point point, Color color) {
  painter_.fillRect(QRect(point.x, point.y, 1, 1), ToQColor(color));
}

Size QPainterSurface::TextExtent(const FontSpec& font, const QString& text) {
  const QFontMetrics& m = Use(font);
  return {m.horizontalAdvance(text), m.height()};
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
