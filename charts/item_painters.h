#pragma once
// The five item styles of the plot area. A painter lives for one paint of the plot.
#include <cstdint>
#include <memory>

#include "charts/chart_properties.h"
#include "charts/drawing_surface.h"
#include "charts/plot_geometry.h"

namespace plotwell {

struct ItemStyle {
  Color fill = 0;
  Color pen = 0;
  Color altFill = 0;
  Color altPen = 0;
  Color hollowFill = 0;  // the plot background
  int itemSize = 9;
  bool hollow = false;
};

class ItemPainter {
 public:
  explicit ItemPainter(const ItemStyle& style) : style_(style) {}
  virtual ~ItemPainter() = default;

  // Draws entry i whose measure is value at its place in the geometry.
  virtual void Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i,
                    double value, bool alt);
  // The dot or square of one item centred at (x, y); bars have no shape.
  virtual void DrawShape(DrawingSurface& surface, const PlotGeometry& geometry, int x, int y,
                         bool alt);

  const ItemStyle& Style() const { return style_; }

 protected:
  Color OutlineColor(bool alt) const { return alt ? style_.altPen : style_.pen; }
  Color FillColor(bool alt) const {
    return style_.hollow ? style_.hollowFill : (alt ? style_.altFill : style_.fill);
  }
  // The bounds of a dot or square centred at (x, y).
  Rect ShapeBounds(const PlotGeometry& geometry, int x, int y) const;

  ItemStyle style_;
};

class DotPainter : public ItemPainter {
 public:
  using ItemPainter::ItemPainter;
  void DrawShape(DrawingSurface& surface, const PlotGeometry& geometry, int x, int y,
                 bool alt) override;
};

class SquarePainter : public ItemPainter {
 public:
  using ItemPainter::ItemPainter;
  void DrawShape(DrawingSurface& surface, const PlotGeometry& geometry, int x, int y,
                 bool alt) override;
};

// Joins each item to the previous one with a line in the pen colour, then draws the
// previous item again over the line's end.
template <typename Shape>
class LinkedPainter : public Shape {
 public:
  using Shape::Shape;
  void Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i, double value,
            bool alt) override;

 private:
  bool hasPrevious_ = false;
  int previousX_ = 0;
  int previousY_ = 0;
  bool previousAlt_ = false;
};

using LinkedDotPainter = LinkedPainter<DotPainter>;
using LinkedSquarePainter = LinkedPainter<SquarePainter>;

class BarPainter : public ItemPainter {
 public:
  using ItemPainter::ItemPainter;
  void Draw(DrawingSurface& surface, const PlotGeometry& geometry, int i, double value,
            bool alt) override;
};

// The painter of a ChartType value; throws CSimplEx(E_INVALIDARG) for an unknown one.
std::unique_ptr<ItemPainter> CreateItemPainter(ChartType chartType, const ItemStyle& style);

}  // namespace plotwell
