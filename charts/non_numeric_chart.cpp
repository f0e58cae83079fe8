#include <algorithm>
#include <vector>

#include "charts/log_chart.h"

namespace plotwell {

NonNumericLogChart::NonNumericLogChart(const ChartMetrics& metrics) : LogChartOver(metrics) {}

NonNumericLogChart::~NonNumericLogChart() = default;

HRESULT NonNumericLogChart::PutLabelLength(std::int32_t value) {
  if (!IsValidLabelLength(value)) return E_INVALIDARG;
  Properties().labelLength = value;
  return S_OK;
}

QString NonNumericLogChart::ShownLabelAt(int i) const {
  return TruncateLabel(data_.LabelTextAt(i), Properties().labelLength);
}

int NonNumericLogChart::BottomRulerHeight(DrawingSurface& surface) {
  const FontSpec font = FontSpec::Category();
  int widest = 0;
  const int entries = data_.Entries();
  for (int i = 0; i < entries; ++i) {
    widest = std::max(widest, surface.TextExtent(font, ShownLabelAt(i)).cx);
  }
  return widest + 18;
}

void NonNumericLogChart::DrawBottomRuler(DrawingSurface& surface, const Rect& rect) {
  const ChartColors& colors = Colors();
  const PlotGeometry& g = Geometry();
  const FontSpec font = FontSpec::Category();
  surface.FillRect(rect, colors.rulerBkg);
  const int tickTop = rect.top + Metrics().edgeHeight + 1;
  const int fontHeight = surface.TextExtent(font, QStringLiteral("0")).cy;
  // Label only every so many items when the slots are narrower than the text.
  const int every = fontHeight / (std::max(g.step, 0) + 2) + 1;

  struct Pending {
    int item;
    int x;
  };
  std::vector<Pending> pending;
  const int entries = data_.Entries();
  for (int j = 0; j < entries; ++j) {
    const int x = g.CentreX(j);
    if (j % every == 0) {
      surface.Line({x, tickTop}, {x, tickTop + 4}, colors.rulerPen, 1);
      pending.push_back({j, x - fontHeight / 2});
    }
    if (x >= rect.right) break;
  }

  bool drawnAny = false;
  int drawnAt = 0;
  for (const Pending& p : pending) {
    if (drawnAny && p.x < drawnAt + fontHeight + 1) continue;
    const QString text = ShownLabelAt(p.item);
    const int width = surface.TextExtent(font, text).cx;
    // Written upwards so that it ends 7 pixels below the tick.
    surface.UpwardText(font, {p.x, tickTop + width + 7}, text, colors.rulerPen);
    drawnAny = true;
    drawnAt = p.x;
  }
  surface.DrawEdge(rect, EdgeStyle::Bump);
}

}  // namespace plotwell
