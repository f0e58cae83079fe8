#include "charts/svg_surface.h"

#include <QFontInfo>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "charts/painter_surface.h"

namespace plotwell {

namespace {

// The classic 3-D frame colours, as the painter surface draws them.
constexpr Color kEdgeLight = MakeColor(0xE3, 0xE3, 0xE3);
constexpr Color kEdgeHighlight = MakeColor(0xFF, 0xFF, 0xFF);
constexpr Color kEdgeShadow = MakeColor(0xA0, 0xA0, 0xA0);
constexpr Color kEdgeDarkShadow = MakeColor(0x69, 0x69, 0x69);

std::string Hex(Color c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", RedOf(c), GreenOf(c), BlueOf(c));
  return text;
}

// Text and attribute values: the markup characters as references, control characters
// (which XML cannot hold) as blanks.
std::string Escape(const QString& text) {
  std::string out;
  for (char c : text.toUtf8().toStdString()) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

SvgSurface::SvgSurface(int width, int height) : width_(width), height_(height) {}

std::string SvgSurface::Finish() const {
  std::string w = std::to_string(width_), h = std::to_string(height_);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
         " " + h + "\" shape-rendering=\"crispEdges\">" + body_ + "</svg>";
}

const QFontMetrics& SvgSurface::Use(const FontSpec& spec) {
  if (!metrics_ || !(spec == spec_)) {
    spec_ = spec;
    font_ = QPainterSurface::ResolveFont(spec);
    metrics_.emplace(font_);
    QFontInfo info(font_);
    fontAttributes_ = " font-family=\"'" + Escape(info.family()) + "', Arial, sans-serif\" font-size=\"" +
                      std::to_string(info.pixelSize()) + "px\"";
    if (spec.weight >= 600) fontAttributes_ += " font-weight=\"bold\"";
  }
  return *metrics_;
}

void SvgSurface::Box(int x, int y, int width, int height, Color color) {
  if (width <= 0 || height <= 0) return;
  body_ += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" fill=\"" + Hex(color) + "\"/>";
}

void SvgSurface::FillRect(const Rect& rect, Color color) { Box(rect.left, rect.top, rect.Width(), rect.Height(), color); }

void SvgSurface::DrawEdge(const Rect& rect, EdgeStyle style) {
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

void SvgSurface::Line(Point from, Point to, Color color, int width) {
  if (width <= 1) {
    // Straight runs as the geometry expects them: the end point is left out.
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
  // Pixel centres, so a one-pixel line covers the pixels the painter would.
  body_ += "<line x1=\"" + Number(from.x + 0.5) + "\" y1=\"" + Number(from.y + 0.5) + "\" x2=\"" +
           Number(to.x + 0.5) + "\" y2=\"" + Number(to.y + 0.5) + "\" stroke=\"" + Hex(color) +
           "\" stroke-width=\"" + std::to_string(std::max(width, 1)) +
           "\" stroke-linecap=\"round\" shape-rendering=\"auto\"/>";
}

void SvgSurface::Ellipse(const Rect& bounds, Color pen, Color fill) {
  if (bounds.Width() <= 0 || bounds.Height() <= 0) return;
  body_ += "<ellipse cx=\"" + Number(bounds.left + bounds.Width() / 2.0) + "\" cy=\"" +
           Number(bounds.top + bounds.Height() / 2.0) + "\" rx=\"" + Number((bounds.Width() - 1) / 2.0) +
           "\" ry=\"" + Number((bounds.Height() - 1) / 2.0) + "\" fill=\"" + Hex(fill) + "\" stroke=\"" + Hex(pen) +
           "\" shape-rendering=\"auto\"/>";
}

void SvgSurface::Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) {
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

void SvgSurface::SetPixel(Point point, Color color) { Box(point.x, point.y, 1, 1, color); }

Size SvgSurface::TextExtent(const FontSpec& font, const QString& text) {
  const QFontMetrics& m = Use(font);
  return {m.horizontalAdvance(text), m.height()};
}

void SvgSurface::TextElement(const QString& text, int x, int y, Color color, const std::string& extra) {
  if (text.isEmpty()) return;
  body_ += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" fill=\"" + Hex(color) + "\"" +
           fontAttributes_ + extra + " xml:space=\"preserve\">" + Escape(text) + "</text>";
}

void SvgSurface::Text(const FontSpec& font, Point topLeft, const QString& text, Color color) {
  const QFontMetrics& m = Use(font);
  TextElement(text, topLeft.x, topLeft.y + m.ascent(), color, "");
}

void SvgSurface::UpwardText(const FontSpec& font, Point start, const QString& text, Color color) {
  const QFontMetrics& m = Use(font);
  TextElement(text, 0, m.ascent(), color,
              " transform=\"translate(" + std::to_string(start.x) + " " + std::to_string(start.y) + ") rotate(-90)\"");
}

void SvgSurface::CentredText(const FontSpec& font, const Rect& box, const QString& text, Color color) {
  if (box.Width() <= 0 || box.Height() <= 0 || text.isEmpty()) return;
  const QFontMetrics& m = Use(font);
  const QString shown = m.elidedText(text, Qt::ElideRight, box.Width());
  // Ids unique in the process, so several charts can stand in one page.
  static std::atomic<unsigned> clips{0};
  std::string clip = "plotwell-clip-" + std::to_string(++clips);
  body_ += "<clipPath id=\"" + clip + "\"><rect x=\"" + std::to_string(box.left) + "\" y=\"" + std::to_string(box.top) +
           "\" width=\"" + std::to_string(box.Width()) + "\" height=\"" + std::to_string(box.Height()) +
           "\"/></clipPath>";
  const int baseline = box.top + (box.Height() - m.height()) / 2 + m.ascent();
  TextElement(shown, box.left + box.Width() / 2, baseline, color,
              " text-anchor=\"middle\" clip-path=\"url(#" + clip + ")\"");
}

}  // namespace plotwell
