#include "shell/chart_host.h"

#include <QMenu>
#include <QWidget>

#include <vector>

#include "component/instance.h"
#include "component/qt/control_host.h"
#include "component/qt/property_frame.h"
#include "reports/chart_export.h"
#include "settings/program_folders.h"

namespace com = vyr::com;

namespace weavil {
namespace {

constexpr com::OLE_COLOR kAltFillColor = 0x8888FF;
constexpr com::OLE_COLOR kAltPenColor = 0x000088;
constexpr com::OLE_COLOR kRulerAltColor = 0x0000FF;
constexpr com::OLE_COLOR kRulerPenColor = 0x000012;

// The library copies the text during the call; the string is freed right after.
void SetData(plotwell::IVyrLogChart* chart, const std::string& document) {
  if (!chart) return;
  com::BSTR text = com::BstrFromUtf8(document);
  chart->SetData(text);
  com::SysFreeString(text);
}

void SetCaption(plotwell::IVyrLogChart* chart, const std::string& caption) {
  if (!chart) return;
  com::BSTR text = com::BstrFromUtf8(caption);
  chart->put_Caption(text);
  com::SysFreeString(text);
}

constexpr const char* kEmptyDocument = "<VYR_CHART_DATA></VYR_CHART_DATA>";

// Every colour property of a control, to see whether its pages changed one.
std::vector<com::OLE_COLOR> Colours(com::IUnknown* control) {
  com::ComPtr<plotwell::IVyrLogChart> chart;
  std::vector<com::OLE_COLOR> colours(8, 0);
  if (com::FAILED(control->QueryInterface(plotwell::IID_IVyrLogChart, chart.PutVoid()))) return colours;
  chart->get_ChartBkgColor(&colours[0]);
  chart->get_ChartFillColor(&colours[1]);
  chart->get_ChartPenColor(&colours[2]);
  chart->get_ChartAltFillColor(&colours[3]);
  chart->get_ChartAltPenColor(&colours[4]);
  chart->get_RulerBkgColor(&colours[5]);
  chart->get_RulerAltColor(&colours[6]);
  chart->get_RulerPenColor(&colours[7]);
  return colours;
}

}  // namespace

com::OLE_COLOR OleColor(const QColor& colour) {
  return static_cast<com::OLE_COLOR>(colour.red()) | (static_cast<com::OLE_COLOR>(colour.green()) << 8) |
         (static_cast<com::OLE_COLOR>(colour.blue()) << 16);
}

int RegisterChartLibrary(const std::string& programDir) {
  return com::SUCCEEDED(com::RegisterServer(ChartLibraryFile(programDir, com::RuntimeFolder()))) ? 0 : -1;
}

bool EnsureChartLibrary(const std::string& programDir) {
  com::ComPtr<plotwell::ITimeSeriesChart> probe;
  if (com::SUCCEEDED(com::CreateInstance(plotwell::CLSID_TimeSeriesChart, plotwell::IID_ITimeSeriesChart,
                                         probe.PutVoid())))
    return true;
  RegisterChartLibrary(programDir);  // failure shows only as empty chart panes
  return com::SUCCEEDED(com::CreateInstance(plotwell::CLSID_TimeSeriesChart, plotwell::IID_ITimeSeriesChart,
                                            probe.PutVoid()));
}

ChartHost::ChartHost(const std::string& programDir, QWidget* parent) : QObject(parent) {
  EnsureChartLibrary(programDir);
  timeSeriesHost_ = new com::ControlHost(QString::fromLatin1(kTimeSeriesClassId), parent);
  if (com::IUnknown* control = timeSeriesHost_->Control())
    control->QueryInterface(plotwell::IID_ITimeSeriesChart, timeSeries_.PutVoid());
  itemsHost_ = new com::ControlHost(QString::fromLatin1(kItemsChartClassId), parent);
  if (com::IUnknown* control = itemsHost_->Control())
    control->QueryInterface(plotwell::IID_INNChart, items_.PutVoid());
  timeSeriesHost_->setObjectName(QStringLiteral("timeSeriesChart"));
  itemsHost_->setObjectName(QStringLiteral("itemsChart"));
  AddContextMenu(timeSeriesHost_);
  AddContextMenu(itemsHost_);
  ApplyColours(parent ? parent->palette() : QPalette());
}

ChartHost::~ChartHost() {
  // The hosts own the controls; drop our references first.
  timeSeries_.Reset();
  items_.Reset();
}

QWidget* ChartHost::TimeSeriesHost() const { return timeSeriesHost_; }
QWidget* ChartHost::ItemsHost() const { return itemsHost_; }

void ChartHost::ApplyColours(const QPalette& palette, bool followPaletteText) {
  if (followPaletteText && userColours_) return;
  com::OLE_COLOR rulerPen = followPaletteText ? OleColor(palette.color(QPalette::ButtonText)) : kRulerPenColor;
  com::OLE_COLOR window = OleColor(palette.color(QPalette::Base));
  com::OLE_COLOR highlight = OleColor(palette.color(QPalette::Highlight));
  com::OLE_COLOR frame = OleColor(palette.color(QPalette::Shadow));
  com::OLE_COLOR buttonFace = OleColor(palette.color(QPalette::Button));
  if (timeSeries_) {
    timeSeries_->put_ChartBkgColor(window);
    timeSeries_->put_ChartFillColor(highlight);
    timeSeries_->put_ChartPenColor(frame);
    timeSeries_->put_ChartAltFillColor(kAltFillColor);
    timeSeries_->put_ChartAltPenColor(kAltPenColor);
    timeSeries_->put_RulerBkgColor(buttonFace);
    timeSeries_->put_RulerAltColor(kRulerAltColor);
    timeSeries_->put_RulerPenColor(rulerPen);
  }
  if (items_) {
    // The alternative fill and pen keep the control's own defaults here.
    items_->put_ChartBkgColor(window);
    items_->put_ChartFillColor(highlight);
    items_->put_ChartPenColor(frame);
    items_->put_RulerBkgColor(buttonFace);
    items_->put_RulerAltColor(kRulerAltColor);
    items_->put_RulerPenColor(rulerPen);
  }
  timeSeriesHost_->update();
  itemsHost_->update();
}

void ChartHost::Clear() {
  timeSeriesDocument_.clear();
  itemsDocument_.clear();
  SetData(timeSeries_.Get(), kEmptyDocument);
  SetData(items_.Get(), kEmptyDocument);
}

void ChartHost::ShowTimeSeries(const SelectionChart& chart) {
  if (!timeSeries_) return;
  SetCaption(timeSeries_.Get(), chart.caption);
  timeSeries_->put_RegularGrid(chart.regularGrid ? 1 : 0);
  timeSeries_->put_FilterType(static_cast<com::SHORT>(chart.filterType));
  if (chart.setData) {
    timeSeriesDocument_ = chart.document;
    SetData(timeSeries_.Get(), chart.document);
  }
}

void ChartHost::ShowItems(const SelectionChart& chart) {
  if (!items_) return;
  SetCaption(items_.Get(), chart.caption);
  if (chart.setData) {
    itemsDocument_ = chart.document;
    SetData(items_.Get(), chart.document);
  }
}

void ChartHost::AddContextMenu(QWidget* host) {
  host->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(host, &QWidget::customContextMenuRequested, this, [this, host](const QPoint& at) {
    QMenu menu(host);
    QAction* properties = menu.addAction(QStringLiteral("Properties..."));
    properties->setEnabled(static_cast<com::ControlHost*>(host)->Control() != nullptr);
    if (menu.exec(host->mapToGlobal(at)) == properties) ShowProperties(host);
  });
}

void ChartHost::ShowProperties(QWidget* host) {
  com::IUnknown* control = static_cast<com::ControlHost*>(host)->Control();
  if (!control) return;
  std::vector<com::OLE_COLOR> before = Colours(control);
  com::PropertyFrame frame(host == timeSeriesHost_ ? QStringLiteral("Time chart") : QStringLiteral("Data chart"),
                           {control}, host->window());
  frame.exec();
  if (Colours(control) != before) userColours_ = true;
  host->update();
}

}  // namespace weavil
