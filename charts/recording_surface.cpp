#include "charts/recording_surface.h"

namespace plotwell {

DrawOp& RecordingSurface::Add(DrawOp::Kind kind, Color color) {
  DrawOp& op = ops_.emplace_back();
  op.kind = kind;
  op.color = color;
  return op;
}

void RecordingSurface::AddText(DrawOp::Kind kind, const FontSpec& font, const QString& text, Color color,
                               Point from, const Rect& rect) {
  DrawOp& op = Add(kind, color);
  op.from = from;
  op.rect = rect;
  op.font = font;
  op.text = text;
}

void RecordingSurface::FillRect(const Rect& rect, Color color) { Add(DrawOp::Kind::FillRect, color).rect = rect; }

void RecordingSurface::DrawEdge(const Rect& rect, EdgeStyle style) {
  DrawOp& op = Add(DrawOp::Kind::Edge, 0);
  op.rect = rect;
  op.edge = style;
}

void RecordingSurface::Line(Point from, Point to, Color color, int width) {
  DrawOp& op = Add(DrawOp::Kind::Line, color);
  op.from = from;
  op.to = to;
  op.width = width;
}

void RecordingSurface::Ellipse(const Rect& bounds, Color pen, Color fill) {
  AddShape(DrawOp::Kind::Ellipse, bounds, pen, 1, fill);
}

void RecordingSurface::Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) {
  AddShape(DrawOp::Kind::Rectangle, bounds, pen, penWidth, fill);
}

void RecordingSurface::AddShape(DrawOp::Kind kind, const Rect& bounds, Color pen, int penWidth, Color fill) {
  DrawOp& op = Add(kind, pen);
  op.rect = bounds;
  op.fill = fill;
  op.width = penWidth;
}

void RecordingSurface::SetPixel(Point point, Color color) { Add(DrawOp::Kind::Pixel, color).from = point; }

Size RecordingSurface::TextExtent(const FontSpec& font, const QString& text) {
  if (font.pixelHeight > 0) {
    return {static_cast<int>(text.size()) * (font.pixelHeight / 2), font.pixelHeight};
  }
  const int charWidth = font.weight >= 700 ? kGuiBoldCharWidth : kGuiCharWidth;
  return {static_cast<int>(text.size()) * charWidth, kGuiFontHeight};
}

void RecordingSurface::Text(const FontSpec& font, Point topLeft, const QString& text, Color color) {
  AddText(DrawOp::Kind::Text, font, text, color, topLeft, Rect());
}

void RecordingSurface::UpwardText(const FontSpec& font, Point start, const QString& text, Color color) {
  AddText(DrawOp::Kind::UpwardText, font, text, color, start, Rect());
}

void RecordingSurface::CentredText(const FontSpec& font, const Rect& box, const QString& text, Color color) {
  AddText(DrawOp::Kind::CentredText, font, text, color, Point(), box);
}

std::vector<DrawOp> RecordingSurface::OpsOf(DrawOp::Kind kind) const {
  std::vector<DrawOp> result;
  for (const DrawOp& op : ops_) {
    if (op.kind == kind) result.push_back(op);
  }
  return result;
}

}  // namespace plotwell
