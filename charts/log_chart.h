#pragma once
// The toolkit-neutral part of a chart control: its properties, its data model, the
// frame of caption, rulers and plot drawn onto any DrawingSurface, and hit testing.
// A control wraps one TimeSeriesLogChart or NonNumericLogChart.
#include <cstdint>
#include <vector>

#include <QString>

#include "charts/chart_data.h"
#include "charts/chart_error.h"
#include "charts/chart_properties.h"
#include "charts/drawing_surface.h"
#include "charts/plot_geometry.h"

namespace plotwell {

// The rectangles of one paint.
struct ChartFrame {
  Rect bounds;
  Rect leftRuler;
  Rect rightRuler;
  Rect caption;
  Rect bottomRuler;
  Rect plot;
  int fontHeight = 0;     // height of the ruler font on this paint
  bool tooSmall = false;  // only the ruler-coloured frame was drawn
  int visibleEntries = 0; // entries drawn in the plot (0..n-1)
};

// Colours of one paint, resolved from the properties.
struct ChartColors {
  Color chartBkg = 0;
  Color chartFill = 0;
  Color chartPen = 0;
  Color chartAltFill = 0;
  Color chartAltPen = 0;
  Color rulerBkg = 0;
  Color rulerPen = 0;
  Color rulerAlt = 0;
};

class LogChart {
 public:
  LogChart(const LogChart&) = delete;
  LogChart& operator=(const LogChart&) = delete;
  virtual ~LogChart();

  ChartProperties& Properties() { return properties_; }
  const ChartProperties& Properties() const { return properties_; }
  virtual ChartData& Data() = 0;
  virtual const ChartData& Data() const = 0;
  const ChartMetrics& Metrics() const { return metrics_; }

  // Loads a chart data document; on failure the data is empty and the code returned.
  HRESULT SetData(const QString& document);

  // Paints the whole control into bounds. Returns S_OK, or the failure that ended
  // the paint early.
  HRESULT OnDraw(DrawingSurface& surface, const Rect& bounds);

  // Geometry and rectangles of the most recent paint (the defaults before the first).
  const PlotGeometry& Geometry() const { return geometry_; }
  const ChartFrame& Frame() const { return frame_; }

  // The plotted measure of entry i (ValueAt or CountAt by MeasureType); throws CSimplEx.
  std::int32_t MeasureAt(int i) const;
  std::int32_t MaxMeasure() const;
  std::int32_t MinMeasure() const;

  // The entry whose item contains the point (in the coordinates of the last paint),
  // or -1. ItemRect gives that item's sensitive rectangle.
  int HitTest(int x, int y) const;
  bool ItemRect(int i, Rect* rect) const;

 protected:
  explicit LogChart(const ChartMetrics& metrics);

  // The bottom ruler differs between the two charts.
  virtual int BottomRulerHeight(DrawingSurface& surface) = 0;
  virtual void DrawBottomRuler(DrawingSurface& surface, const Rect& rect) = 0;

  const ChartColors& Colors() const { return colors_; }
  int FontHeight() const { return frame_.fontHeight; }

 private:
  void DrawCaption(DrawingSurface& surface, const Rect& rect);
  void DrawValueRuler(DrawingSurface& surface, const Rect& rect, bool left);
  void DrawPlot(DrawingSurface& surface, const Rect& rect);

  ChartMetrics metrics_;
  ChartProperties properties_;
  ChartColors colors_;
  PlotGeometry geometry_;
  ChartFrame frame_;
};

// A chart over its own kind of data model.
template <class Model>
class LogChartOver : public LogChart {
 public:
  Model& Data() override { return data_; }
  const Model& Data() const override { return data_; }

 protected:
  using LogChart::LogChart;

  Model data_;
};

class TimeSeriesLogChart : public LogChartOver<TimeSeriesData> {
 public:
  explicit TimeSeriesLogChart(const ChartMetrics& metrics = ChartMetrics());
  ~TimeSeriesLogChart() override;

  // Property puts with their side effects: E_INVALIDARG for a FilterType outside
  // 0..3 (nothing changed); otherwise the value is stored in the properties and the
  // data, the samples are rebucketed, and a rebucketing failure is returned.
  HRESULT PutFilterType(std::int16_t value);
  HRESULT PutRegularGrid(std::int32_t value);

 protected:
  int BottomRulerHeight(DrawingSurface& surface) override;
  void DrawBottomRuler(DrawingSurface& surface, const Rect& rect) override;
};

class NonNumericLogChart : public LogChartOver<NonNumericData> {
 public:
  explicit NonNumericLogChart(const ChartMetrics& metrics = ChartMetrics());
  ~NonNumericLogChart() override;

  // E_INVALIDARG outside 2..64; otherwise stored (takes effect on the next paint).
  HRESULT PutLabelLength(std::int32_t value);
  // Label i as the category ruler shows it.
  QString ShownLabelAt(int i) const;

 protected:
  int BottomRulerHeight(DrawingSurface& surface) override;
  void DrawBottomRuler(DrawingSurface& surface, const Rect& rect) override;
};

}  // namespace plotwell
