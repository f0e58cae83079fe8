#pragma once
// The part of drawing that both the painter and the SVG surface do alike: fills, the
// 3-D edges, straight one-pixel lines, rectangle outlines and pixels are all drawn as
// filled boxes, and text is measured with the QFont a request resolves to. A surface
// says how it fills one box, strokes any other line, and draws ellipses and texts.
#include <QFontMetrics>

#include "charts/drawing_surface.h"

namespace plotwell {

class BoxSurface : public DrawingSurface {
 public:
  void FillRect(const Rect& rect, Color color) override;
  void DrawEdge(const Rect& rect, EdgeStyle style) override;
  void Line(Point from, Point to, Color color, int width) override;
  void Rectangle(const Rect& bounds, Color pen, int penWidth, Color fill) override;
  void SetPixel(Point point, Color color) override;
  Size TextExtent(const FontSpec& font, const QString& text) override;

 protected:
  // Fills width x height pixels from (x, y); called only with both above zero.
  virtual void FillBox(int x, int y, int width, int height, Color color) = 0;
  // A slanted line, or one wider than a pixel, with round caps.
  virtual void StrokeLine(Point from, Point to, Color color, int width) = 0;
  // The metrics of the font the request resolves to, made the current font.
  virtual const QFontMetrics& Use(const FontSpec& spec) = 0;

 private:
  void Box(int x, int y, int width, int height, Color color);
};

}  // namespace plotwell
