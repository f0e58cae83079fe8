#include "charts/log_chart.h"

#include <algorithm>
#include <limits>

#include "charts/item_painters.h"

namespace plotwell {

LogChart::LogChart(const ChartMetrics& metrics) : metrics_(metrics) {}

LogChart::~LogChart() = default;

HRESULT LogChart::SetData(const QString& document) { return Data().TryLoad(document); }

std::int32_t LogChart::MeasureAt(int i) const {
  return properties_.measureType == static_cast<std::int16_t>(MeasureType::Count)
             ? Data().CountAt(i)
             : Data().ValueAt(i);
}

std::int32_t LogChart::MaxMeasure() const {
  return properties_.measureType == static_cast<std::int16_t>(MeasureType::Count)
             ? Data().MaxCount()
             : Data().MaxValue();
}

std::int32_t LogChart::MinMeasure() const {
  return properties_.measureType == static_cast<std::int16_t>(MeasureType::Count)
             ? Data().MinCount()
             : Data().MinValue();
}

HRESULT LogChart::OnDraw(DrawingSurface& surface, const Rect& bounds) {
  return CatchChartFailure([&] {
    colors_.chartBkg = TranslateColor(properties_.chartBkgColor);
    colors_.chartFill = TranslateColor(properties_.chartFillColor);
    colors_.chartPen = TranslateColor(properties_.chartPenColor);
    colors_.chartAltFill = TranslateColor(properties_.chartAltFillColor);
    colors_.chartAltPen = TranslateColor(properties_.chartAltPenColor);
    colors_.rulerBkg = TranslateColor(properties_.rulerBkgColor);
    colors_.rulerPen = TranslateColor(properties_.rulerPenColor);
    colors_.rulerAlt = TranslateColor(properties_.rulerAltColor);

    frame_ = ChartFrame();
    frame_.bounds = bounds;
    const Size widest = surface.TextExtent(FontSpec::Gui(), QString::number(MaxMeasure()));
    const int w = widest.cx + 18;
    frame_.fontHeight = widest.cy;
    const int b = BottomRulerHeight(surface);

    frame_.leftRuler = {bounds.left, bounds.top, bounds.left + w, bounds.bottom};
    frame_.rightRuler = {bounds.right - w, bounds.top, bounds.right, bounds.bottom};
    frame_.caption = {frame_.leftRuler.right, bounds.top, frame_.rightRuler.left,
                      bounds.top + frame_.fontHeight + 8};
    frame_.bottomRuler = {frame_.leftRuler.right, bounds.bottom - b, frame_.rightRuler.left,
                          bounds.bottom};
    frame_.plot = {frame_.leftRuler.right, frame_.caption.bottom, frame_.rightRuler.left,
                   frame_.bottomRuler.top};

    if (frame_.plot.Height() <= 2 * metrics_.MarginY() ||
        frame_.plot.Width() <= 2 * metrics_.MarginX()) {
      frame_.tooSmall = true;
      surface.FillRect(bounds, colors_.rulerBkg);
      surface.DrawEdge(bounds, EdgeStyle::Raised);
      return;
    }

    geometry_ = Layout(frame_.plot, Data().Entries(), MinMeasure(), MaxMeasure(),
                       properties_.chartType == ChartType::VerticalBars,
                       metrics_.MarginX(), metrics_.MarginY());
    DrawCaption(surface, frame_.caption);
    DrawBottomRuler(surface, frame_.bottomRuler);
    DrawValueRuler(surface, frame_.leftRuler, true);
    DrawValueRuler(surface, frame_.rightRuler, false);
    DrawPlot(surface, frame_.plot);
  });
}

void LogChart::DrawCaption(DrawingSurface& surface, const Rect& rect) {
  surface.FillRect(rect, colors_.rulerBkg);
  surface.CentredText(FontSpec::GuiBold(), rect.Inset(metrics_.edgeWidth, metrics_.edgeHeight),
                      properties_.caption, colors_.rulerPen);
  surface.DrawEdge(rect, EdgeStyle::Bump);
}

void LogChart::DrawValueRuler(DrawingSurface& surface, const Rect& rect, bool left) {
  surface.FillRect(rect, colors_.rulerBkg);
  const FontSpec font = FontSpec::Gui();
  const int fontHeight = frame_.fontHeight;
  const int xr = left ? rect.right - metrics_.edgeWidth - 2 : rect.left + metrics_.edgeWidth + 2;
  const int tickEnd = left ? xr - 4 : xr + 4;
  const int maxTicks =
      fontHeight > 0 ? (rect.Height() - 2 * metrics_.MarginY()) / (2 * fontHeight) : 0;
  const bool bars = properties_.chartType == ChartType::VerticalBars;
  const double lo = bars ? 0.0 : MinMeasure();
  const double hi = MaxMeasure();
  const TickStep ticks = ChooseTickStep(lo, hi, maxTicks, 1.0);
  const int limitTop = rect.top + metrics_.edgeHeight;

  double v = ticks.first;
  std::int64_t lastLabelY = std::numeric_limits<int>::max();
  for (int i = 0; Data().Entries() > 0 && v <= hi && i < maxTicks; ++i, v += ticks.step) {
    const int y = geometry_.yOrigin - geometry_.Pixel(v);
    if (y <= limitTop || y > geometry_.yOrigin) continue;
    if (lastLabelY - y >= fontHeight) {
      const QString text = FormatTick(v, ticks);
      const Size extent = surface.TextExtent(font, text);
      const int labelTop = y - extent.cy / 2;
      if (labelTop >= limitTop) {
        surface.Text(font, {left ? xr - extent.cx - 5 : xr + 6, labelTop}, text,
                     colors_.rulerPen);
        surface.Line({xr, y}, {tickEnd, y}, colors_.rulerPen, 1);
      }
      lastLabelY = y;
    } else {
      surface.Line({xr, y}, {tickEnd, y}, colors_.rulerPen, 1);
    }
  }
  surface.DrawEdge(rect, EdgeStyle::Bump);
}

void LogChart::DrawPlot(DrawingSurface& surface, const Rect& rect) {
  surface.FillRect(rect, colors_.chartBkg);
  ItemStyle style;
  style.fill = colors_.chartFill;
  style.pen = colors_.chartPen;
  style.altFill = colors_.chartAltFill;
  style.altPen = colors_.chartAltPen;
  style.hollowFill = colors_.chartBkg;
  style.itemSize = metrics_.itemSize;
  style.hollow = properties_.chartItemHollow;
  const auto painter = CreateItemPainter(properties_.chartType, style);

  // Only the entries that fit are visited, however many there are.
  const int limit = rect.right - metrics_.MarginX();
  const int entries = Data().Entries();
  const int w = geometry_.itemWidth;
  for (int i = 0; i < entries; ++i) {
    const std::int64_t right =
        geometry_.xOrigin + std::int64_t{i} * geometry_.step + geometry_.step / 2 + w - w / 2;
    if (right > limit) break;
    double value = 0;
    bool alt = false;
    try {
      value = MeasureAt(i);
      alt = Data().AltAt(i) != 0;
    } catch (const CSimplEx&) {
      break;
    }
    painter->Draw(surface, geometry_, i, value, alt);
    frame_.visibleEntries = i + 1;
  }
  surface.DrawEdge(rect, EdgeStyle::Raised);
}

bool LogChart::ItemRect(int i, Rect* rect) const {
  if (i < 0 || i >= Data().Entries()) return false;
  std::int32_t v = 0;
  try {
    v = MeasureAt(i);
  } catch (const CSimplEx&) {
    return false;
  }
  const int centre = geometry_.CentreX(i);
  const int y = geometry_.yOrigin - geometry_.Pixel(v);
  if (properties_.chartType == ChartType::VerticalBars) {
    const int left = centre - geometry_.itemWidth / 2;
    const int base = geometry_.yOrigin - geometry_.Pixel(0);
    // A bar below the base runs downwards; its rectangle is the same span turned over.
    *rect = {left, std::min(y - 1, base - 1), left + geometry_.itemWidth,
             std::max(base + 1, y + 1)};
    return true;
  }
  const int s = metrics_.itemSize;
  const int w = std::min(geometry_.itemWidth, s);
  const int left = centre - w / 2;
  *rect = {left, y - s / 2 - 1, left + w, y + s / 2 + 1};
  return true;
}

int LogChart::HitTest(int x, int y) const {
  if (geometry_.step <= 0) return -1;
  const int dx = x - geometry_.xOrigin;
  // Rounds towards minus infinity, so points left of the origin find no entry.
  int i = dx / geometry_.step;
  if (dx % geometry_.step != 0 && dx < 0) --i;
  // Entries beyond the plot's right margin are not drawn and so cannot be hit.
  if (i < 0 || i >= Data().Entries() || i >= frame_.visibleEntries) return -1;
  Rect rect;
  if (!ItemRect(i, &rect)) return -1;
  return rect.Contains(x, y) ? i : -1;
}

}  // namespace plotwell
