#include "charts/recording_surface.h"

namespace plotwell {

void RecordingSurface::FillRect(const Rect& rect, Color color) {
  DrawOp op;
  op.kind = DrawOp::Kind::FillRect;
  op.rect = rect;
  op.color = color;
  ops_.push_back(op);
}

void RecordingSurface::DrawEdge(const Rect& rect, EdgeStyle style) {
  DrawOp op;
  op.kind = DrawOp::Kind::Edge;
  op.rect = rect;
  op.edge = style;
  ops_.push_back(op);
}

void RecordingSurface::Line(Point from, Point to, Color color, int width) {
  DrawOp op;
  op.kind = DrawOp::Kind::Line;
  op.from = from;
  op.to = to;
  op.color = color;
  op.width = width;
  ops_.push_back(op);
}

void RecordingSurface::Ellipse(const Rect& bounds, Color pen, Color fill) {
  DrawOp op;
  op.kind = DrawOp::Kind::Ellipse;
  op.rect = bounds;
  op.color = pen;
  op.fill = fill;
  op.width = 1;
  ops_.push_back(op);
}

void RecordingSurface::Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) {
  DrawOp op;
  op.kind = DrawOp::Kind::Rectangle;
  op.rect = bounds;
  op.color = pen;
  op.fill = fill;
  op.width = penWidth;
  ops_.push_back(op);
}

void RecordingSurface::SetPixel(Point point, Color color) {
  DrawOp op;
  op.kind = DrawOp::Kind::Pixel;
  op.from = point;
  op.color = color;
  ops_.push_back(op);
}

Size RecordingSurface::TextExtent(const FontSpec& font, const QString& text) {
  if (font.pixelHeight > 0) {
    return {static_cast<int>(text.size()) * (font.pixelHeight / 2), font.pixelHeight};
  }
  const int charWidth = font.weight >= 700 ? kGuiBoldCharWidth : kGuiCharWidth;
  return {static_cast<int>(text.size()) * charWidth, kGuiFontHeight};
}

void RecordingSurface::Text(const FontSpec& font, Point topLeft, const QString& text,
                            Color color) {
  DrawOp op;
  op.kind = DrawOp::Kind::Text;
  op.from = topLeft;
  op.color = color;
  op.font = font;
  op.text = text;
  ops_.push_back(op);
}

void RecordingSurface::UpwardText(const FontSpec& font, Point start, const QString& text,
                                  Color color) {
  DrawOp op;
  op.kind = DrawOp::Kind::UpwardText;
  op.from = start;
  op.color = color;
  op.font = font;
  op.text = text;
  ops_.push_back(op);
}

void RecordingSurface::CentredText(const FontSpec& font, const Rect& box, const QString& text,
                                   Color color) {
  DrawOp op;
  op.kind = DrawOp::Kind::CentredText;
  op.rect = box;
  op.color = color;
  op.font = font;
  op.text = text;
  ops_.push_back(op);
}

std::vector<DrawOp> RecordingSurface::OpsOf(DrawOp::Kind kind) const {
  std::vector<DrawOp> result;
  for (const DrawOp& op : ops_) {
    if (op.kind == kind) result.push_back(op);
  }
  return result;
}

}  // namespace plotwell
