// `weavil chart`: draws a chart data document into a PNG through the chart component,
// created by class identifier exactly as the window creates its charts.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/chart_control.h"
#include "cli/cli.h"
#include "cli/huge_page_heap.h"
#include "component/com_ptr.h"
#include "component/instance.h"

namespace weavil {

namespace {

namespace com = vyr::com;

constexpr int kMaxSide = 16384;

bool ParseSize(const std::string& text, int* width, int* height) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  std::string w = text.substr(0, x), h = text.substr(x + 1);
  for (const std::string& part : {w, h})
    if (part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos) return false;
  *width = std::stoi(w);
  *height = std::stoi(h);
  return *width > 0 && *height > 0 && *width <= kMaxSide && *height <= kMaxSide;
}

void PrintChartUsage(std::ostream& out) {
  out << "Usage: weavil chart timeseries|items DOCUMENT.xml --png OUT.png [--size WxH]\n"
         "                   [--set Name=Value ...]\n"
         "\n"
         "Draws a chart data document (as 'weavil report VIEW --chart ROW' prints it) with\n"
         "the Plotwell chart control and writes the picture as PNG. 'timeseries' reads\n"
         "<ITM TM='...'> items, 'items' reads <ITM LBL='...'> items.\n";
}

void PrintChartRegistry(std::ostream& out) {
  out << "The control is created by class identifier from the component registry; when it\n"
         "is not registered, libplotwell.so beside weavil (or, installed, the one in the\n"
         "library folder) is registered first. A document the chart rejects prints what\n"
         "is wrong with it (the line and column, the item) and exits with 1.\n";
}

constexpr CliOption kChartOptions[] = {
    {.name = "--png", .value = "FILE", .help = "the picture to write (required)"},
    {.name = "--size", .value = "WxH", .help = "its size in pixels (default 800x400)"},
    {.name = "--set",
     .value = "Name=Value",
     .help = "a control property before the data is set, for instance\n--set Caption=Requests --set ChartType=2\n"
             "--set FilterType=1 --set ChartFillColor=0x00FF00\n--set RegularGrid=1 --set LabelLength=20"},
};

struct ChartJob {
  std::string kind, documentPath, pngPath;
  int width = 800, height = 400;
  std::vector<std::pair<std::string, std::string>> settings;
};

// The job the words ask for. kExitOk, or kExitUsage after the usage error.
int ReadChartJob(CliContext& context, const CliArgs& args, ChartJob& job) {
  for (const CliWord& word : args.Words()) {
    const std::string& v = word.value;
    if (!word.option) {
      if (job.kind.empty()) job.kind = v;
      else if (job.documentPath.empty()) job.documentPath = v;
      else return CliUsage(context, "unexpected argument " + v, "chart");
      continue;
    }
    const std::string_view name = word.option->name;
    if (name == "--png") {
      job.pngPath = v;
    } else if (name == "--size") {
      if (!ParseSize(v, &job.width, &job.height))
        return CliUsage(context, "--size wants WIDTHxHEIGHT between 1 and 16384, not " + v, "chart");
    } else if (name == "--set") {
      size_t equals = v.find('=');
      if (equals == std::string::npos || equals == 0) return CliUsage(context, "--set wants Name=Value, not " + v, "chart");
      job.settings.emplace_back(v.substr(0, equals), v.substr(equals + 1));
    }
  }
  const std::string& kind = job.kind;
  if (kind != "timeseries" && kind != "items")
    return CliUsage(context, kind.empty() ? "chart needs timeseries or items" : "unknown chart kind " + kind, "chart");
  if (job.documentPath.empty()) return CliUsage(context, "chart needs a DOCUMENT.xml", "chart");
  if (job.pngPath.empty()) return CliUsage(context, "chart needs --png OUT.png", "chart");
  return kExitOk;
}

// Sets the job's properties and then the document on the control.
int FillChart(CliContext& context, com::IDispatch* control, const ChartJob& job, const std::string& document) {
  com::HRESULT hr = com::S_OK;
  for (const auto& [name, value] : job.settings) {
    bool unknown = false;
    hr = InvokeWithText(control, name, com::DISPATCH_PROPERTYPUT, value, &unknown);
    if (unknown) return CliUsage(context, "the " + job.kind + " chart has no property " + name, "chart");
    if (com::FAILED(hr)) return CliFail(context, "cannot set " + name + " to " + value + ": " + ChartResultText(hr));
  }
  bool unknown = false;
  hr = InvokeWithText(control, "SetData", com::DISPATCH_METHOD, document, &unknown);
  if (com::FAILED(hr)) {
    std::string problem = ChartDocumentProblem(document, job.kind == "timeseries");
    return CliFail(context, "the chart rejected " + job.documentPath + ": " + (problem.empty() ? "" : problem + "; ") +
                                ChartResultText(hr));
  }
  return kExitOk;
}

}  // namespace

int RunChartCommand(CliContext& context, const CliArgs& args) {
  UseHugePageHeap();
  ChartJob job;
  if (int code = ReadChartJob(context, args, job); code != kExitOk) return code;

  std::ifstream in(job.documentPath, std::ios::binary);
  if (!in) return CliFail(context, "cannot read " + job.documentPath);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return CliFail(context, "cannot read " + job.documentPath);

  std::unique_ptr<QGuiApplication> app;
  EnsureGuiApplication(app);

  const char* classId = job.kind == "timeseries" ? kTimeSeriesChartClass : kItemsChartClass;
  com::ComPtr<com::IDispatch> control;
  std::string error;
  if (!CreateChartControl(context.programDir, classId, control, error)) return CliFail(context, error);
  if (int code = FillChart(context, control.Get(), job, text.str()); code != kExitOk) return code;

  com::ComPtr<com::IVyrWindowlessControl> view;
  com::HRESULT hr = control.As(com::IID_IVyrWindowlessControl, &view);
  if (com::FAILED(hr)) return CliFail(context, "the chart control cannot draw: " + ChartResultText(hr));
  QImage image(job.width, job.height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    com::RECT bounds{0, 0, job.width, job.height};
    hr = view->Draw(&painter, &bounds);
  }
  if (com::FAILED(hr)) return CliFail(context, "drawing the chart failed: " + ChartResultText(hr));
  if (!image.save(QString::fromStdString(job.pngPath), "PNG")) return CliFail(context, "cannot write " + job.pngPath);
  *context.out << "Wrote " << job.pngPath << " (" << job.width << "x" << job.height << ")\n";
  return kExitOk;
}

const CliCommand kChartCommand = {.name = "chart",
                                  .summary = "draw a chart data document into a PNG with the chart control",
                                  .helpBefore = PrintChartUsage, .options = kChartOptions,
                                  .helpAfter = PrintChartRegistry, .run = RunChartCommand};

}  // namespace weavil
