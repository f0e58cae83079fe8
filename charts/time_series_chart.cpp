#include <ctime>
#include <limits>
#include <vector>

#include <QDate>
#include <QLocale>

#include "charts/log_chart.h"

namespace plotwell {

namespace {

// A label of the time ruler: minor (rank 0), major (1), or major with the year (2).
struct TimeLabel {
  int x = 0;
  int width = 0;
  int rank = 0;
  QString text;
};

std::tm LocalFields(std::int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm fields{};
  if (localtime_r(&tt, &fields) == nullptr) throw CSimplEx(E_FAIL);
  return fields;
}

}  // namespace

TimeSeriesLogChart::TimeSeriesLogChart(const ChartMetrics& metrics) : LogChart(metrics) {}

TimeSeriesLogChart::~TimeSeriesLogChart() = default;

HRESULT TimeSeriesLogChart::PutFilterType(std::int16_t value) {
  if (!IsValidFilterType(value)) return E_INVALIDARG;
  Properties().filterType = value;
  return CatchChartFailure([&] { data_.SetFilterType(static_cast<FilterType>(value)); });
}

HRESULT TimeSeriesLogChart::PutRegularGrid(std::int32_t value) {
  Properties().regularGrid = value != 0;
  return CatchChartFailure([&] { data_.SetRegularGrid(value != 0); });
}

int TimeSeriesLogChart::BottomRulerHeight(DrawingSurface&) { return FontHeight() + 13; }

void TimeSeriesLogChart::DrawBottomRuler(DrawingSurface& surface, const Rect& rect) {
  const ChartColors& colors = Colors();
  const ChartMetrics& metrics = Metrics();
  const PlotGeometry& g = Geometry();
  const FontSpec font = FontSpec::Gui();
  surface.FillRect(rect, colors.rulerBkg);
  const int tickTop = rect.top + metrics.edgeHeight + 1;
  const int labelTop = tickTop + 7;

  const QLocale locale;
  QString months[12];
  for (int m = 0; m < 12; ++m) months[m] = locale.monthName(m + 1, QLocale::ShortFormat).left(4);

  // Label every g-th bucket: as many buckets as one ruler height of width.
  const int step = g.step > 0 ? g.step : 1;
  const int every = std::max((rect.Height() + step - 1) / step, 1);
  const FilterType filter = data_.FilterType();

  std::vector<TimeLabel> labels;
  const auto addLabel = [&](int x, const QString& text, int rank, bool centred) {
    const int width = surface.TextExtent(font, text).cx;
    labels.push_back({centred ? x - width / 2 : x, width, rank, text});
  };

  bool complete = true;
  int n = 0;
  bool hasPrevious = false;
  std::tm previous{};
  int lastMajorYear = std::numeric_limits<int>::min();
  const int entries = data_.Entries();
  for (int j = 0; j < entries; ++j) {
    const int xc = g.CentreX(j);
    const int xl = xc - step / 2;
    std::tm t{};
    try {
      t = LocalFields(data_.BucketTime(j));
    } catch (const CSimplEx&) {
      complete = false;
      break;
    }
    bool major = false;
    QString majorText;
    int majorRank = 1;
    QString minorText;
    switch (filter) {
      case FilterType::Hourly:
        if (!hasPrevious || t.tm_yday != previous.tm_yday || t.tm_year != previous.tm_year) {
          major = true;
          n = 0;
          majorText = locale.toString(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                                      QLocale::ShortFormat)
                          .left(15);
        }
        if (n % every == 0) minorText = QString::number(t.tm_hour);
        break;
      case FilterType::Daily:
        if (!hasPrevious || t.tm_mon != previous.tm_mon || t.tm_year != previous.tm_year) {
          major = true;
          n = 0;
          majorText = months[t.tm_mon];
          if (t.tm_year != lastMajorYear) {
            majorText += QString::asprintf(" %02d", (t.tm_year + 1900) % 100);
            majorRank = 2;
          }
          lastMajorYear = t.tm_year;
        }
        if (n % every == 0) minorText = QString::number(t.tm_mday);
        break;
      case FilterType::Monthly:
        if (!hasPrevious || t.tm_year != previous.tm_year) {
          major = true;
          n = 0;
          majorText = QString::number(t.tm_year + 1900);
        }
        if (n % every == 0) minorText = months[t.tm_mon];
        break;
      case FilterType::Yearly:
        if (n % every == 0) minorText = QString::number(t.tm_year + 1900);
        break;
    }
    if (major) {
      surface.Line({xl, tickTop}, {xl, tickTop + 6}, colors.rulerAlt, 1);
      addLabel(xl, majorText, majorRank, false);
    }
    if (major || n % every == 0) {
      surface.Line({xc, tickTop}, {xc, tickTop + 4}, colors.rulerPen, 1);
      if (!minorText.isEmpty()) addLabel(xc, minorText, 0, true);
    }
    ++n;
    previous = t;
    hasPrevious = true;
    if (xc >= rect.right) break;
  }

  if (complete) {
    // Left to right, never overlapping the last drawn label; a label gives way to a
    // higher-ranking neighbour it would touch.
    bool drawnAny = false;
    int drawnEnd = 0;
    for (std::size_t k = 0; k < labels.size(); ++k) {
      const TimeLabel& label = labels[k];
      if (drawnAny && label.x < drawnEnd + 3) continue;
      if (k + 1 < labels.size()) {
        const TimeLabel& next = labels[k + 1];
        if (label.rank < next.rank && label.x + label.width + 3 > next.x) continue;
      }
      surface.Text(font, {label.x, labelTop}, label.text,
                   label.rank > 0 ? colors.rulerAlt : colors.rulerPen);
      drawnAny = true;
      drawnEnd = label.x + label.width;
    }
  }
  surface.DrawEdge(rect, EdgeStyle::Bump);
}

}  // namespace plotwell
