#include "charts/box_surface.h"

#include <algorithm>

namespace plotwell {

namespace {

// The classic 3-D frame colours.
constexpr Color kEdgeLight = MakeColor(0xE3, 0xE3, 0xE3);
constexpr Color kEdgeHighlight = MakeColor(0xFF, 0xFF, 0xFF);
constexpr Color kEdgeShadow = MakeColor(0xA0, 0xA0, 0xA0);
constexpr Color kEdgeDarkShadow = MakeColor(0x69, 0x69, 0x69);

}  // namespace

void BoxSurface::Box(int x, int y, int width, int height, Color color) {
  if (width <= 0 || height <= 0) return;
  FillBox(x, y, width, height, color);
}

void BoxSurface::FillRect(const Rect& rect, Color color) { Box(rect.left, rect.top, rect.Width(), rect.Height(), color); }

void BoxSurface::DrawEdge(const Rect& rect, EdgeStyle style) {
  const auto frame = [&](const Rect& r, Color topLeft, Color bottomRight) {
    if (r.Width() <= 0 || r.Height() <= 0) return;
    Box(r.left, r.top, r.Width() - 1, 1, topLeft);
    Box(r.left, r.top, 1, r.Height() - 1, topLeft);
    Box(r.left, r.bottom - 1, r.Width(), 1, bottomRight);
    Box(r.right - 1, r.top, 1, r.Height(), bottomRight);
  };
  frame(rect, kEdgeLight, kEdgeDarkShadow);
  if (style == EdgeStyle::Raised) frame(rect.Inset(1, 1), kEdgeHighlight, kEdgeShadow);
  else frame(rect.Inset(1, 1), kEdgeShadow, kEdgeHighlight);
}

void BoxSurface::Line(Point from, Point to, Color color, int width) {
  if (width <= 1) {
    // Straight runs exactly as the geometry expects: the end point is left out.
    if (from.y == to.y) {
      if (from.x == to.x) return;
      const int left = std::min(from.x, to.x + 1);
      const int right = from.x < to.x ? to.x : from.x + 1;
      Box(left, from.y, right - left, 1, color);
      return;
    }
    if (from.x == to.x) {
      const int top = std::min(from.y, to.y + 1);
      const int bottom = from.y < to.y ? to.y : from.y + 1;
      Box(from.x, top, 1, bottom - top, color);
      return;
    }
  }
  StrokeLine(from, to, color, width);
}

void BoxSurface::Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) {
  if (bounds.Width() <= 0 || bounds.Height() <= 0) return;
  const int w = std::max(penWidth, 1);
  if (bounds.Width() <= 2 * w || bounds.Height() <= 2 * w) {
    FillRect(bounds, pen);
    return;
  }
  Box(bounds.left + w, bounds.top + w, bounds.Width() - 2 * w, bounds.Height() - 2 * w, fill);
  Box(bounds.left, bounds.top, bounds.Width(), w, pen);
  Box(bounds.left, bounds.bottom - w, bounds.Width(), w, pen);
  Box(bounds.left, bounds.top + w, w, bounds.Height() - 2 * w, pen);
  Box(bounds.right - w, bounds.top + w, w, bounds.Height() - 2 * w, pen);
}

void BoxSurface::SetPixel(Point point, Color color) { Box(point.x, point.y, 1, 1, color); }

Size BoxSurface::TextExtent(const FontSpec& font, const QString& text) {
  const QFontMetrics& m = Use(font);
  return {m.horizontalAdvance(text), m.height()};
}

}  // namespace plotwell
