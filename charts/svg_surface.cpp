#include "charts/svg_surface.h"

#include <QFontInfo>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "charts/painter_surface.h"

namespace plotwell {

namespace {

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

void SvgSurface::FillBox(int x, int y, int width, int height, Color color) {
  body_ += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" fill=\"" + Hex(color) + "\"/>";
}

// Pixel centres, so a one-pixel line covers the pixels the painter would.
void SvgSurface::StrokeLine(Point from, Point to, Color color, int width) {
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
