#pragma once
// The program's side of the charts: makes sure the chart library is registered, hosts
// one time-series and one labelled-values control created by class identifier, gives
// them the palette's colours, and hands them the chart documents of the report engine.
// The controls are reached only through the component runtime.
#include <QObject>
#include <QPalette>

#include <string>

#include "component/com_ptr.h"
#include "plotwell/plotwell_interfaces.h"

class QWidget;

namespace vyr::com {
class ControlHost;
}

namespace weavil {

struct SelectionChart;

inline constexpr const char* kTimeSeriesClassId = "{F9B2ACDB-9182-4BC4-BAE4-7C630821317A}";
inline constexpr const char* kItemsChartClassId = "{F124BA1E-B0B0-415E-A4B1-86E122E8E51C}";
// Registers the chart library file in programDir (installed: the one beside the
// component runtime). 0 on success, -1 when it does not load, lacks its registration
// entry or the registration fails.
int RegisterChartLibrary(const std::string& programDir);

// Creates a TimeSeriesChart to see whether the class is registered and registers the
// library beside the program when it is not. True when the class can be created.
bool EnsureChartLibrary(const std::string& programDir);

// 0x00BBGGRR, as the controls take colours.
vyr::com::OLE_COLOR OleColor(const QColor& colour);

class ChartHost : public QObject {
  Q_OBJECT

 public:
  // Probes (and registers) the library, then creates both hosts as children of parent.
  ChartHost(const std::string& programDir, QWidget* parent);
  ~ChartHost() override;

  QWidget* TimeSeriesHost() const;
  QWidget* ItemsHost() const;
  // Null when the control could not be created.
  plotwell::ITimeSeriesChart* TimeSeries() const { return timeSeries_.Get(); }
  plotwell::INNChart* Items() const { return items_.Get(); }

  // The colours of the palette: window, highlight and frame colours for the chart,
  // button face for the ruler, fixed alternative and ruler colours. With
  // followPaletteText the ruler's text and ticks take the button text colour, so a dark
  // palette stays readable, and colours the user chose on the property pages are kept.
  void ApplyColours(const QPalette& palette, bool followPaletteText = false);
  // The user changed a chart's colours on its property pages.
  bool UserColours() const { return userColours_; }
  // Empty documents for both charts (the views were reset).
  void Clear();
  // Caption, grid, filter type and document of a time-series decision.
  void ShowTimeSeries(const SelectionChart& chart);
  // Caption and document of a labelled-values decision.
  void ShowItems(const SelectionChart& chart);

  // The last documents handed over (empty after Clear).
  const std::string& TimeSeriesDocument() const { return timeSeriesDocument_; }
  const std::string& ItemsDocument() const { return itemsDocument_; }

  // Opens the chart's property pages in the property frame (the context menu's
  // "Properties...").
  void ShowProperties(QWidget* host);

 private:
  void AddContextMenu(QWidget* host);

  vyr::com::ControlHost* timeSeriesHost_ = nullptr;
  vyr::com::ControlHost* itemsHost_ = nullptr;
  vyr::com::ComPtr<plotwell::ITimeSeriesChart> timeSeries_;
  vyr::com::ComPtr<plotwell::INNChart> items_;
  std::string timeSeriesDocument_, itemsDocument_;
  bool userColours_ = false;
};

}  // namespace weavil
