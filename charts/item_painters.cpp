#include "charts/item_painters.h"

#include <algorithm>

#include "charts/chart_error.h"

namespace plotwell {

void ItemPainter::Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i,
                       double value, bool alt) {
  DrawShape(surface, geometry, geometry.CentreX(i), geometry.yOrigin - geometry.Pixel(value),
            alt);
}

void ItemPainter::DrawShape(DrawingSurface&, const PlotGeometry&, int, int, bool) {}

Rect ItemPainter::ShapeBounds(const PlotGeometry& geometry, int x, int y) const {
  const int size = style_.itemSize;
  const int a = std::min(geometry.itemWidth, size) / 2;
  return {x - a, y - size / 2, x + a + 1, y + size / 2 + 1};
}

void DotPainter::DrawShape(DrawingSurface& surface, const PlotGeometry& geometry, int x, int y,
                           bool alt) {
  if (style_.itemSize <= 1) {
    surface.SetPixel({x, y}, OutlineColor(alt));
    return;
  }
  surface.Ellipse(ShapeBounds(geometry, x, y), OutlineColor(alt), FillColor(alt));
}

void SquarePainter::DrawShape(DrawingSurface& surface, const PlotGeometry& geometry, int x,
                              int y, bool alt) {
  if (style_.itemSize <= 1) {
    surface.SetPixel({x, y}, OutlineColor(alt));
    return;
  }
  surface.Rectangle(ShapeBounds(geometry, x, y), OutlineColor(alt), 1, FillColor(alt));
}

template <typename Shape>
void LinkedPainter<Shape>::Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i,
                                double value, bool alt) {
  const int x = geometry.CentreX(i);
  const int y = geometry.yOrigin - geometry.Pixel(value);
  if (hasPrevious_) {
    // The link is always in the plain pen; the previous item is drawn again so that
    // it lies over the line's end.
    surface.Line({previousX_, previousY_}, {x, y}, this->style_.pen, this->style_.itemSize / 4);
    this->DrawShape(surface, geometry, previousX_, previousY_, previousAlt_);
  }
  this->DrawShape(surface, geometry, x, y, alt);
  hasPrevious_ = true;
  previousX_ = x;
  previousY_ = y;
  previousAlt_ = alt;
}

template class LinkedPainter<DotPainter>;
template class LinkedPainter<SquarePainter>;

void BarPainter::Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i,
                      double value, bool alt) {
  const int w = geometry.itemWidth;
  const int x = geometry.CentreX(i);
  const int y = geometry.yOrigin - geometry.Pixel(value);
  const int yb = geometry.yOrigin - geometry.Pixel(0);
  const int penWidth = w >= 8 ? 2 : w / 4;
  if (y == yb) {
    surface.Line({x - w / 2, y}, {x + w / 2 + 1, y}, OutlineColor(alt), penWidth);
    return;
  }
  surface.Rectangle({x - w / 2, std::min(y, yb), x + w / 2 + 1, std::max(y, yb) + 1},
                    OutlineColor(alt), penWidth, FillColor(alt));
}

std::unique_ptr<ItemPainter> CreateItemPainter(ChartType chartType, const ItemStyle& style) {
  switch (chartType) {
    case ChartType::Dots: return std::make_unique<DotPainter>(style);
    case ChartType::Squares: return std::make_unique<SquarePainter>(style);
    case ChartType::ConnectedDots: return std::make_unique<LinkedDotPainter>(style);
    case ChartType::ConnectedSquares: return std::make_unique<LinkedSquarePainter>(style);
    case ChartType::VerticalBars: return std::make_unique<BarPainter>(style);
  }
  throw CSimplEx(E_INVALIDARG);
}

}  // namespace plotwell
