#include "cli/html_export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "cli/chart_control.h"
#include "cli/report_options.h"
#include "plotwell/plotwell_interfaces.h"
#include "reports/html_report.h"
#include "store/database.h"

namespace weavil {

namespace com = vyr::com;

namespace {

constexpr int kChartWidth = 720;
constexpr int kChartHeight = 300;

// The window's colours in a light palette: white plot, blue bars, grey rulers, and the
// program's red for weekend days.
void PageColours(plotwell::IVyrLogChart* chart) {
  chart->put_ChartBkgColor(0xFFFFFF);
  chart->put_ChartFillColor(0xC68C30);
  chart->put_ChartPenColor(0x000000);
  chart->put_ChartAltFillColor(0x8888FF);
  chart->put_ChartAltPenColor(0x000088);
  chart->put_RulerBkgColor(0xEFEFEF);
  chart->put_RulerAltColor(0x0000FF);
  chart->put_RulerPenColor(0x000012);
}

class ChartPainter {
 public:
  ChartPainter(const std::string& programDir, HtmlExportStats& stats) : programDir_(programDir), stats_(stats) {}

  // The chart as an <svg> element; empty when it cannot be drawn.
  std::string Draw(const SelectionChart& chart) {
    bool timeSeries = chart.pane == RightPane::kTimeSeries;
    com::ComPtr<plotwell::IVyrLogChart>& control = timeSeries ? timeSeries_ : items_;
    if (!control && !Create(timeSeries, control)) return Fail(error_);
    com::BSTR caption = com::BstrFromUtf8(chart.caption);
    control->put_Caption(caption);
    com::SysFreeString(caption);
    if (timeSeries) {
      com::ComPtr<plotwell::ITimeSeriesChart> series;
      if (com::SUCCEEDED(control.As(plotwell::IID_ITimeSeriesChart, &series))) {
        series->put_RegularGrid(chart.regularGrid ? 1 : 0);
        series->put_FilterType(static_cast<com::SHORT>(chart.filterType));
      }
    }
    com::BSTR document = com::BstrFromUtf8(chart.document);
    com::HRESULT hr = control->SetData(document);
    com::SysFreeString(document);
    if (com::FAILED(hr)) return Fail("the chart rejected its document: " + ChartResultText(hr));
    com::ComPtr<plotwell::IVyrChartSvg> svg;
    hr = control.As(plotwell::IID_IVyrChartSvg, &svg);
    com::BSTR text = nullptr;
    if (com::SUCCEEDED(hr)) hr = svg->DrawSvg(kChartWidth, kChartHeight, &text);
    if (com::FAILED(hr)) return Fail("the chart cannot draw as SVG: " + ChartResultText(hr));
    std::string out = com::Utf8FromBstr(text);
    com::SysFreeString(text);
    ++stats_.charts;
    return out;
  }

 private:
  bool Create(bool timeSeries, com::ComPtr<plotwell::IVyrLogChart>& control) {
    com::ComPtr<com::IDispatch> dispatch;
    if (!CreateChartControl(programDir_, timeSeries ? kTimeSeriesChartClass : kItemsChartClass, dispatch, error_))
      return false;
    com::HRESULT hr = dispatch.As(plotwell::IID_IVyrLogChart, &control);
    if (com::FAILED(hr)) {
      error_ = "the chart control lacks its interface: " + ChartResultText(hr);
      return false;
    }
    PageColours(control.Get());
    return true;
  }

  std::string Fail(const std::string& why) {
    if (stats_.chartsFailed++ == 0) stats_.chartError = why;
    return {};
  }

  std::string programDir_;
  HtmlExportStats& stats_;
  std::string error_;
  com::ComPtr<plotwell::IVyrLogChart> timeSeries_, items_;
};

std::string MadeText(std::time_t now) {
  std::tm local{};
  char when[32] = "";
  if (localtime_r(&now, &local)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
  return std::string(when) + " by Weavil 1.4";
}

}  // namespace

bool ExportHtmlReport(const std::string& programDir, DbSession& session, const ReportFilter& filter,
                      std::time_t now, const std::string& path, HtmlExportStats& stats, std::string& error) {
  std::vector<ReportTree> trees;
  for (const ReportViewName& view : ReportViewNames()) trees.push_back(BuildReport(view, session, filter, now));

  HtmlReportPage page;
  page.timeSpan = DescribeTimeSpan(session, filter, now);
  page.filter = DescribeFilter(filter, now);
  page.made = MadeText(now);
  ChartPainter painter(programDir, stats);
  for (size_t i = 0; i < trees.size(); ++i) {
    const ReportViewName& view = ReportViewNames()[i];
    HtmlSection section;
    section.title = view.statistics ? "Statistics" : ViewInfo(view.kind).tab;
    section.caption = view.statistics ? "Statistics" : ViewInfo(view.kind).caption;
    section.tree = &trees[i];
    for (const HtmlChart& chart : ChooseHtmlCharts(trees[i], !view.statistics && view.kind == SessionViewKind::kVisits,
                                                   view.statistics)) {
      std::string svg = painter.Draw(chart.chart);
      if (svg.empty()) continue;
      section.charts.push_back(std::move(svg));
      section.chartTitles.push_back(chart.title);
    }
    page.sections.push_back(std::move(section));
  }

  std::string temporary = path + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot write " + path;
      return false;
    }
    WriteHtmlReport(out, page);
    if (!out.flush()) {
      out.close();
      std::remove(temporary.c_str());
      error = "cannot write " + path;
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::remove(temporary.c_str());
    error = "cannot write " + path + ": " + ec.message();
    return false;
  }
  return true;
}

}  // namespace weavil
