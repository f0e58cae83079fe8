#pragma once
// Mapping of chart entries onto the plot area: a fixed horizontal slot per entry and a
// linear vertical scale from a base value up to the largest measure.
#include <cstdint>

#include <QString>

#include "charts/drawing_surface.h"

namespace plotwell {

// Platform sizes the layout depends on, read once per control.
struct ChartMetrics {
  int edgeWidth = 2;   // width of a 3-D edge line pair
  int edgeHeight = 2;
  int itemSize = 9;    // height of dots and squares and the cap on their width

  int MarginX() const { return 5 * edgeWidth; }
  int MarginY() const { return 5 * edgeHeight; }
};

struct PlotGeometry {
  int xOrigin = 0;
  int yOrigin = 0;  // the bottom line of the plot
  double base = 1.0;
  double pixelsPerUnit = 1.0;
  int itemWidth = 5;
  int step = 7;  // horizontal slot per entry

  // Vertical offset of v above the y origin, rounded to nearest, halves upwards.
  int Pixel(double v) const;
  // Horizontal centre of entry i.
  int CentreX(int i) const { return xOrigin + i * step + step / 2; }
};

// Computes the geometry of a plot rectangle holding `entries` entries whose measures
// lie between minMeasure and maxMeasure; bars stand on 0, other styles on the minimum.
PlotGeometry Layout(const Rect& plot, int entries, std::int32_t minMeasure,
                    std::int32_t maxMeasure, bool bars, int marginX, int marginY);

struct TickStep {
  double step = 1.0;
  double first = 0.0;  // the first tick at or below lo
  int width = 1;       // printf field width and precision of the labels
  int precision = 0;
};

// A round tick step (1, 2 or 5 times a power of ten) for values lo..hi, so that at
// most about maxTicks ticks appear and no step is smaller than minStep.
TickStep ChooseTickStep(double lo, double hi, int maxTicks, double minStep);

// A tick label: v printed with "%*.*f" and the step's width and precision.
QString FormatTick(double v, const TickStep& step);

// The shown form of a label: its first labelLength characters, then "..." when longer.
QString TruncateLabel(const QString& label, int labelLength);

}  // namespace plotwell
