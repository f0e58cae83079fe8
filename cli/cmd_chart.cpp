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

}  // namespace

void PrintChartHelp(std::ostream& out) {
  out << "Usage: weavil chart timeseries|items DOCUMENT.xml --png OUT.png [--size WxH]\n"
         "                   [--set Name=Value ...]\n"
         "\n"
         "Draws a chart data document (as 'weavil report VIEW --chart ROW' prints it) with\n"
         "the Plotwell chart control and writes the picture as PNG. 'timeseries' reads\n"
         "<ITM TM='...'> items, 'items' reads <ITM LBL='...'> items.\n"
         "\n"
         "  --png FILE        the picture to write (required)\n"
         "  --size WxH        its size in pixels (default 800x400)\n"
         "  --set Name=Value  a control property before the data is set, for instance\n"
         "                    --set Caption=Requests --set ChartType=2 --set FilterType=1\n"
         "                    --set ChartFillColor=0x00FF00 --set RegularGrid=1 --set LabelLength=20\n"
         "\n"
         "The control is created by class identifier from the component registry; when it\n"
         "is not registered, libplotwell.so beside weavil (or, installed, the one in the\n"
         "library folder) is registered first. A document the chart rejects prints what\n"
         "is wrong with it (the line and column, the item) and exits with 1.\n";
}

int RunChartCommand(CliContext& context, const std::vector<std::string>& args) {
  std::string kind, documentPath, pngPath;
  int width = 800, height = 400;
  std::vector<std::pair<std::string, std::string>> settings;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* option) -> const std::string* {
      if (i + 1 >= args.size()) {
        CliUsage(context, std::string(option) + " needs a value", "chart");
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == "--png") {
      const std::string* v = value("--png");
      if (!v) return kExitUsage;
      pngPath = *v;
    } else if (arg == "--size") {
      const std::string* v = value("--size");
      if (!v) return kExitUsage;
      if (!ParseSize(*v, &width, &height))
        return CliUsage(context, "--size wants WIDTHxHEIGHT between 1 and 16384, not " + *v, "chart");
    } else if (arg == "--set") {
      const std::string* v = value("--set");
      if (!v) return kExitUsage;
      size_t equals = v->find('=');
      if (equals == std::string::npos || equals == 0)
        return CliUsage(context, "--set wants Name=Value, not " + *v, "chart");
      settings.emplace_back(v->substr(0, equals), v->substr(equals + 1));
    } else if (!arg.empty() && arg[0] == '-') {
      return CliUsage(context, "unknown option " + arg, "chart");
    } else if (kind.empty()) {
      kind = arg;
    } else if (documentPath.empty()) {
      documentPath = arg;
    } else {
      return CliUsage(context, "unexpected argument " + arg, "chart");
    }
  }
  if (kind != "timeseries" && kind != "items")
    return CliUsage(context, kind.empty() ? "chart needs timeseries or items" : "unknown chart kind " + kind, "chart");
  if (documentPath.empty()) return CliUsage(context, "chart needs a DOCUMENT.xml", "chart");
  if (pngPath.empty()) return CliUsage(context, "chart needs --png OUT.png", "chart");

  std::ifstream in(documentPath, std::ios::binary);
  if (!in) return CliFail(context, "cannot read " + documentPath);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return CliFail(context, "cannot read " + documentPath);

  std::unique_ptr<QGuiApplication> app;
  EnsureGuiApplication(app);

  const char* classId = kind == "timeseries" ? kTimeSeriesChartClass : kItemsChartClass;
  com::ComPtr<com::IDispatch> control;
  std::string error;
  if (!CreateChartControl(context.programDir, classId, control, error)) return CliFail(context, error);

  com::HRESULT hr = com::S_OK;
  for (const auto& [name, value] : settings) {
    bool unknown = false;
    hr = InvokeWithText(control.Get(), name, com::DISPATCH_PROPERTYPUT, value, &unknown);
    if (unknown) return CliUsage(context, "the " + kind + " chart has no property " + name, "chart");
    if (com::FAILED(hr)) return CliFail(context, "cannot set " + name + " to " + value + ": " + ChartResultText(hr));
  }

  bool unknown = false;
  hr = InvokeWithText(control.Get(), "SetData", com::DISPATCH_METHOD, text.str(), &unknown);
  if (com::FAILED(hr)) {
    std::string problem = ChartDocumentProblem(text.str(), kind == "timeseries");
    return CliFail(context, "the chart rejected " + documentPath + ": " + (problem.empty() ? "" : problem + "; ") +
                                ChartResultText(hr));
  }

  com::ComPtr<com::IVyrWindowlessControl> view;
  hr = control.As(com::IID_IVyrWindowlessControl, &view);
  if (com::FAILED(hr)) return CliFail(context, "the chart control cannot draw: " + ChartResultText(hr));
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    com::RECT bounds{0, 0, width, height};
    hr = view->Draw(&painter, &bounds);
  }
  if (com::FAILED(hr)) return CliFail(context, "drawing the chart failed: " + ChartResultText(hr));
  if (!image.save(QString::fromStdString(pngPath), "PNG")) return CliFail(context, "cannot write " + pngPath);
  *context.out << "Wrote " << pngPath << " (" << width << "x" << height << ")\n";
  return kExitOk;
}

}  // namespace weavil
