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

// What the ruler shows at one bucket: a major tick and label where the day (hourly),
// month (daily) or year (monthly) turns, a minor tick on every every-th bucket since.
struct RulerMark {
  bool major = false;
  QString majorText;
  int majorRank = 1;
  bool minor = false;
  QString minorText;
};

// Chooses the marks bucket by bucket, left to right.
class RulerMarks {
 public:
  RulerMarks(FilterType filter, int every) : filter_(filter), every_(every) {
    for (int m = 0; m < 12; ++m) months_[m] = locale_.monthName(m + 1, QLocale::ShortFormat).left(4);
  }

  RulerMark Next(const std::tm& t) {
    RulerMark mark;
    switch (filter_) {
      case FilterType::Hourly:
        if (Turns(t, t.tm_yday != previous_.tm_yday))
          mark = Major(locale_.toString(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday), QLocale::ShortFormat)
                           .left(15));
        mark.minorText = QString::number(t.tm_hour);
        break;
      case FilterType::Daily:
        if (Turns(t, t.tm_mon != previous_.tm_mon)) mark = MonthMajor(t);
        mark.minorText = QString::number(t.tm_mday);
        break;
      case FilterType::Monthly:
        if (Turns(t, false)) mark = Major(QString::number(t.tm_year + 1900));
        mark.minorText = months_[t.tm_mon];
        break;
      case FilterType::Yearly:
        mark.minorText = QString::number(t.tm_year + 1900);
        break;
    }
    mark.minor = n_ % every_ == 0;
    if (!mark.minor) mark.minorText.clear();
    ++n_;
    previous_ = t;
    hasPrevious_ = true;
    return mark;
  }

 private:
  // True where a major mark falls: the first bucket, a new year, or the turn the filter
  // names; the count of minor buckets starts over there.
  bool Turns(const std::tm& t, bool turned) {
    if (hasPrevious_ && !turned && t.tm_year == previous_.tm_year) return false;
    n_ = 0;
    return true;
  }
  static RulerMark Major(QString text) {
    RulerMark mark;
    mark.major = true;
    mark.majorText = std::move(text);
    return mark;
  }
  // The month, with the year after it where the year differs from the last major mark's.
  RulerMark MonthMajor(const std::tm& t) {
    RulerMark mark = Major(months_[t.tm_mon]);
    if (t.tm_year != lastMajorYear_) {
      mark.majorText += QString::asprintf(" %02d", (t.tm_year + 1900) % 100);
      mark.majorRank = 2;
    }
    lastMajorYear_ = t.tm_year;
    return mark;
  }

  const QLocale locale_;
  QString months_[12];
  FilterType filter_;
  int every_;
  int n_ = 0;
  bool hasPrevious_ = false;
  std::tm previous_{};
  int lastMajorYear_ = std::numeric_limits<int>::min();
};

// Left to right, never overlapping the last drawn label; a label gives way to a
// higher-ranking neighbour it would touch.
void DrawRulerLabels(DrawingSurface& surface, const FontSpec& font, const std::vector<TimeLabel>& labels,
                     int labelTop, const ChartColors& colors) {
  bool drawnAny = false;
  int drawnEnd = 0;
  for (std::size_t k = 0; k < labels.size(); ++k) {
    const TimeLabel& label = labels[k];
    if (drawnAny && label.x < drawnEnd + 3) continue;
    if (k + 1 < labels.size()) {
      const TimeLabel& next = labels[k + 1];
      if (label.rank < next.rank && label.x + label.width + 3 > next.x) continue;
    }
    surface.Text(font, {label.x, labelTop}, label.text, label.rank > 0 ? colors.rulerAlt : colors.rulerPen);
    drawnAny = true;
    drawnEnd = label.x + label.width;
  }
}

// Draws the ticks bucket by bucket and measures their labels; false when a bucket's time
// has no local date (the labels are then left out).
bool DrawRulerTicks(DrawingSurface& surface, const TimeSeriesData& data, const PlotGeometry& g, const Rect& rect,
                    int tickTop, const FontSpec& font, const ChartColors& colors, std::vector<TimeLabel>* labels) {
  const auto addLabel = [&](int x, const QString& text, int rank, bool centred) {
    const int width = surface.TextExtent(font, text).cx;
    labels->push_back({centred ? x - width / 2 : x, width, rank, text});
  };
  // Label every g-th bucket: as many buckets as one ruler height of width.
  const int step = g.step > 0 ? g.step : 1;
  RulerMarks marks(data.FilterType(), std::max((rect.Height() + step - 1) / step, 1));
  const int entries = data.Entries();
  for (int j = 0; j < entries; ++j) {
    const int xc = g.CentreX(j);
    const int xl = xc - step / 2;
    std::tm t{};
    try {
      t = LocalFields(data.BucketTime(j));
    } catch (const CSimplEx&) {
      return false;
    }
    const RulerMark mark = marks.Next(t);
    if (mark.major) {
      surface.Line({xl, tickTop}, {xl, tickTop + 6}, colors.rulerAlt, 1);
      addLabel(xl, mark.majorText, mark.majorRank, false);
    }
    if (mark.minor) {
      surface.Line({xc, tickTop}, {xc, tickTop + 4}, colors.rulerPen, 1);
      if (!mark.minorText.isEmpty()) addLabel(xc, mark.minorText, 0, true);
    }
    if (xc >= rect.right) break;
  }
  return true;
}

}  // namespace

TimeSeriesLogChart::TimeSeriesLogChart(const ChartMetrics& metrics) : LogChartOver(metrics) {}

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
  const FontSpec font = FontSpec::Gui();
  surface.FillRect(rect, colors.rulerBkg);
  const int tickTop = rect.top + Metrics().edgeHeight + 1;
  std::vector<TimeLabel> labels;
  if (DrawRulerTicks(surface, data_, Geometry(), rect, tickTop, font, colors, &labels))
    DrawRulerLabels(surface, font, labels, tickTop + 7, colors);
  surface.DrawEdge(rect, EdgeStyle::Bump);
}

}  // namespace plotwell
