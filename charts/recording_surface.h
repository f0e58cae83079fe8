#pragma once
// A DrawingSurface that records every call instead of drawing, with fixed text
// metrics, so that chart geometry can be checked exactly without fonts or pixels.
#include <vector>

#include "charts/drawing_surface.h"

namespace plotwell {

struct DrawOp {
  enum class Kind { FillRect, Edge, Line, Ellipse, Rectangle, Pixel, Text, UpwardText, CentredText };
  Kind kind = Kind::FillRect;
  Rect rect;            // FillRect, Edge, Ellipse, Rectangle, CentredText
  Point from;           // Line; Pixel; Text top-left; UpwardText start
  Point to;             // Line
  Color color = 0;      // fill of FillRect, pen of shapes and lines, text colour
  Color fill = 0;       // Ellipse, Rectangle
  int width = 0;        // Line and Rectangle pen width
  EdgeStyle edge = EdgeStyle::Raised;
  FontSpec font;
  QString text;
};

class RecordingSurface : public DrawingSurface {
 public:
  // Text metrics: the GUI font has cells 13 pixels high, characters 6 pixels wide (7
  // in bold); a font with an explicit pixel height h has cells h high and characters
  // h / 2 wide.
  static constexpr int kGuiFontHeight = 13;
  static constexpr int kGuiCharWidth = 6;
  static constexpr int kGuiBoldCharWidth = 7;

  void FillRect(const Rect& rect, Color color) override;
  void DrawEdge(const Rect& rect, EdgeStyle style) override;
  void Line(Point from, Point to, Color color, int width) override;
  void Ellipse(const Rect& bounds, Color pen, Color fill) override;
  void Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) override;
  void SetPixel(Point point, Color color) override;
  Size TextExtent(const FontSpec& font, const QString& text) override;
  void Text(const FontSpec& font, Point topLeft, const QString& text, Color color) override;
  void UpwardText(const FontSpec& font, Point start, const QString& text, Color color) override;
  void CentredText(const FontSpec& font, const Rect& box, const QString& text,
                   Color color) override;

  const std::vector<DrawOp>& Ops() const { return ops_; }
  std::vector<DrawOp> OpsOf(DrawOp::Kind kind) const;
  void Clear() { ops_.clear(); }

 private:
  // A new op of that kind and colour at the end of the record.
  DrawOp& Add(DrawOp::Kind kind, Color color);
  void AddShape(DrawOp::Kind kind, const Rect& bounds, Color pen, int penWidth, Color fill);
  void AddText(DrawOp::Kind kind, const FontSpec& font, const QString& text, Color color, Point from,
               const Rect& rect);

  std::vector<DrawOp> ops_;
};

}  // namespace plotwell
