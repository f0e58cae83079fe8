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

#include "cli/cli.h"
#include "component/com_ptr.h"
#include "component/instance.h"

namespace weavil {

namespace {

namespace com = vyr::com;

constexpr const char* kTimeSeriesClass = "{F9B2ACDB-9182-4BC4-BAE4-7C630821317A}";
constexpr const char* kItemsClass = "{F124BA1E-B0B0-415E-A4B1-86E122E8E51C}";
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

// Text becomes a BSTR argument; the control converts it to the property's type.
com::HRESULT InvokeWithText(com::IDispatch* control, const std::string& name, com::WORD flags,
                            const std::string& text, bool* unknownName) {
  std::u16string wide = com::Utf16FromUtf8(name);
  com::LPOLESTR names[] = {wide.data()};
  com::DISPID id = com::DISPID_UNKNOWN;
  *unknownName = false;
  if (com::FAILED(control->GetIDsOfNames(com::IID_NULL, names, 1, com::LOCALE_USER_DEFAULT, &id))) {
    *unknownName = true;
    return com::DISP_E_UNKNOWNNAME;
  }
  com::VARIANT argument;
  com::VariantInit(&argument);
  argument.vt = com::VT_BSTR;
  argument.bstrVal = com::BstrFromUtf8(text);
  if (!argument.bstrVal) return com::E_OUTOFMEMORY;
  com::DISPID named = com::DISPID_PROPERTYPUT;
  com::DISPPARAMS params{&argument, flags == com::DISPATCH_PROPERTYPUT ? &named : nullptr, 1,
                         flags == com::DISPATCH_PROPERTYPUT ? 1u : 0u};
  com::VARIANT result;
  com::VariantInit(&result);
  com::HRESULT hr = control->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, flags, &params, &result, nullptr,
                                    nullptr);
  com::VariantClear(&result);
  // The library copies the text during the call; ours is freed afterwards.
  com::VariantClear(&argument);
  return hr;
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
         "is not registered, libplotwell.so beside weavil is registered first. A document\n"
         "the chart rejects prints the chart's result code and exits with 1.\n";
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

  // Drawing text needs a GUI application object; batch drawing needs no display.
  std::unique_ptr<QGuiApplication> app;
  if (!QGuiApplication::instance()) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "weavil";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QGuiApplication>(argc, argv);
  }

  const char* classId = kind == "timeseries" ? kTimeSeriesClass : kItemsClass;
  com::ComPtr<com::IDispatch> control;
  com::HRESULT hr = com::CreateInstance(classId, com::IID_IDispatch, control.PutVoid());
  if (com::FAILED(hr)) {
    // Not registered yet (or registered elsewhere): register the library beside us, once.
    com::HRESULT registered = com::RegisterServer(context.programDir + "libplotwell.so");
    if (com::SUCCEEDED(registered)) hr = com::CreateInstance(classId, com::IID_IDispatch, control.PutVoid());
    if (com::FAILED(hr))
      return CliFail(context, std::string("cannot create the chart control ") + classId + ": " + com::HResultText(hr) +
                                  (com::FAILED(registered) ? " (registering " + context.programDir +
                                                                 "libplotwell.so: " + com::HResultText(registered) + ")"
                                                           : std::string()));
  }

  for (const auto& [name, value] : settings) {
    bool unknown = false;
    hr = InvokeWithText(control.Get(), name, com::DISPATCH_PROPERTYPUT, value, &unknown);
    if (unknown) return CliUsage(context, "the " + kind + " chart has no property " + name, "chart");
    if (com::FAILED(hr)) return CliFail(context, "cannot set " + name + " to " + value + ": " + com::HResultText(hr));
  }

  bool unknown = false;
  hr = InvokeWithText(control.Get(), "SetData", com::DISPATCH_METHOD, text.str(), &unknown);
  if (com::FAILED(hr)) return CliFail(context, "the chart rejected " + documentPath + ": " + com::HResultText(hr));

  com::ComPtr<com::IVyrWindowlessControl> view;
  hr = control.As(com::IID_IVyrWindowlessControl, &view);
  if (com::FAILED(hr)) return CliFail(context, "the chart control cannot draw: " + com::HResultText(hr));
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    com::RECT bounds{0, 0, width, height};
    hr = view->Draw(&painter, &bounds);
  }
  if (com::FAILED(hr)) return CliFail(context, "drawing the chart failed: " + com::HResultText(hr));
  if (!image.save(QString::fromStdString(pngPath), "PNG")) return CliFail(context, "cannot write " + pngPath);
  *context.out << "Wrote " << pngPath << " (" << width << "x" << height << ")\n";
  return kExitOk;
}

}  // namespace weavil
