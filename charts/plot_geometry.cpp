#include "charts/plot_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plotwell {

int PlotGeometry::Pixel(double v) const {
  const double offset = std::floor((v - base) * pixelsPerUnit + 0.5);
  // Far outside any device; keeps the conversion defined for absurd scales.
  constexpr double kLimit = 1 << 30;
  return static_cast<int>(std::clamp(offset, -kLimit, kLimit));
}

PlotGeometry Layout(const Rect& plot, int entries, std::int32_t minMeasure,
                    std::int32_t maxMeasure, bool bars, int marginX, int marginY) {
  PlotGeometry g;
  g.xOrigin = plot.left + marginX;
  g.yOrigin = plot.bottom - marginY;

  int d = std::max(plot.right - plot.left - 2 * marginX, 1);
  if (entries > 0) d = std::max(d / entries, 1);
  if (d == 3) d = 2;  // an odd slot of 3 would centre a 1-pixel item off its slot
  int f;
  if (d <= 2) {
    f = d;
  } else if (d <= 8) {
    f = d - 2;
  } else if (d < 20) {
    f = d - 3;
  } else if (d < 40) {
    f = d - 5;
  } else {
    f = d - 8;
  }
  g.step = d;
  g.itemWidth = std::min(f, d);
  if (g.itemWidth < 2) g.itemWidth = 1;

  g.base = bars ? 0.0 : static_cast<double>(minMeasure);
  const double h = std::max(plot.bottom - plot.top - 2 * marginY, 1);
  const double range = static_cast<double>(maxMeasure) - g.base;
  g.pixelsPerUnit = std::max(h / std::max(range, 1.0), 1e-8);
  return g;
}

TickStep ChooseTickStep(double lo, double hi, int maxTicks, double minStep) {
  if (!(minStep > 0.0001)) minStep = 0.0001;
  double range = hi - lo;
  if (!(range > minStep)) range = minStep;
  const double intervals = std::max(maxTicks - 1, 1);
  const double raw = minStep < range / intervals ? range / intervals : minStep;

  const int u = static_cast<int>(std::ceil(std::log10(raw)));
  double p = 1.0;
  for (int k = 0; k < std::abs(u); ++k) p *= u >= 0 ? 10.0 : 0.1;

  TickStep result;
  int exponent = u;
  result.step = p;
  if (raw <= 0.5 * p) {
    result.step = 0.5 * p;
    exponent = u - 1;
    if (raw <= 0.2 * p) result.step = 0.2 * p;
  }
  result.first = std::floor(lo / result.step) * result.step;
  if (exponent < 0) {
    result.precision = -exponent;
    result.width = 2 - exponent;
  } else {
    result.precision = 0;
    result.width = 1;
  }
  return result;
}

QString FormatTick(double v, const TickStep& step) {
  return QString::asprintf("%*.*f", step.width, step.precision, v);
}

QString TruncateLabel(const QString& label, int labelLength) {
  if (labelLength < 0) labelLength = 0;
  // Count characters, not UTF-16 units, so a pair is never split.
  qsizetype pos = 0;
  int chars = 0;
  while (pos < label.size() && chars < labelLength) {
    pos += (label[pos].isHighSurrogate() && pos + 1 < label.size() &&
            label[pos + 1].isLowSurrogate())
               ? 2
               : 1;
    ++chars;
  }
  if (pos >= label.size()) return label;
  return label.left(pos) + QStringLiteral("...");
}

}  // namespace plotwell
