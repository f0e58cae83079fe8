// chart-container: a small container of the Plotwell chart controls.
//
//   chart-container           shows both charts in a window; clicking an item prints its
//                             event, a right click opens the chart's property pages
//   chart-container OUT.png   draws both charts into OUT.png offscreen, clicks an item
//                             and opens the property pages there, then exits
//
// Build against an installed Plotwell:
//   c++ -std=c++20 main.cpp $(pkg-config --cflags --libs plotwell) -o chart-container
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <string>
#include <vector>

#include <plotwell/plotwell.h>

using namespace vyr::com;

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "chart-container: %s\n", what.c_str());
  return 1;
}

// Creates a control; when Plotwell is not registered (or was registered from a file
// that is gone), registers the library installed beside the component runtime and
// tries once more.
template <class Create>
HRESULT CreateRegistering(Create create) {
  HRESULT hr = create();
  if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND) {
    hr = RegisterServer(RuntimeFolder() + "/libplotwell.so");
    if (SUCCEEDED(hr)) hr = create();
  }
  return hr;
}

// Receives one control's events. The connection point asks the sink for the event
// interface, which is dispatch-only: Invoke gets the method's DISPID and the six
// arguments, last first (rgvarg[5] is idxPosition).
template <const IID& kEvents>
class ChartEvents final : public UnknownImpl<IDispatch, kEvents> {
 public:
  explicit ChartEvents(const char* chart) : chart_(chart) {}
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const IID&, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, const IID&, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    static const char* const kNames[] = {"", "OnMouseHover", "OnMouseClick", "OnMouseDblClick"};
    if (id < 1 || id > 3 || !params || params->cArgs != 6) return S_OK;
    const VARIANT* a = params->rgvarg;
    // The second argument is the bucket time of a time series, the label of an item.
    std::string second = a[4].vt == VT_BSTR ? "'" + Utf8FromBstr(a[4].bstrVal) + "'" : std::to_string(a[4].lVal);
    std::printf("%s %s: item %d (%s), count %d, value %d\n", chart_, kNames[id], a[5].lVal, second.c_str(),
                a[3].lVal, a[2].lVal);
    std::fflush(stdout);
    if (id == plotwell::DISPID_ONMOUSECLICK) ++clicks;
    return S_OK;
  }
  int clicks = 0;

 private:
  const char* chart_;
};

// A sink joined to a control's events for the life of this object.
class Connection {
 public:
  Connection(IUnknown* control, const IID& events, IUnknown* sink) {
    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(control->QueryInterface(IID_IConnectionPointContainer, points.PutVoid())) &&
        SUCCEEDED(points->FindConnectionPoint(events, point_.Put())))
      point_->Advise(sink, &cookie_);
  }
  ~Connection() {
    if (point_ && cookie_) point_->Unadvise(cookie_);
  }

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// Strings we hand to a control are copied during the call and stay ours to free.
void SetText(plotwell::IVyrLogChart* chart, HRESULT (plotwell::IVyrLogChart::*put)(BSTR), const char* text) {
  BSTR value = BstrFromUtf8(text);
  (chart->*put)(value);
  SysFreeString(value);
}

// The time flavour: TM is Unix time, the text the value; ALT='1' marks an item.
std::string TimeSeriesDocument() {
  std::string doc = "<VYR_CHART_DATA>";
  const int values[] = {12, 30, 22, 41, 18, 27, 35, 9};
  for (int hour = 0; hour < 8; ++hour)
    doc += "<ITM TM='" + std::to_string(1709280000 + hour * 3600) + "'" + (hour == 3 ? " ALT='1'" : "") + ">" +
           std::to_string(values[hour]) + "</ITM>";
  return doc + "</VYR_CHART_DATA>";
}

// The label flavour: LBL is the label, CNT the count (1 when missing).
const char* const kItemsDocument =
    "<VYR_CHART_DATA><ITM LBL='Mozilla' CNT='3'>120</ITM><ITM LBL='Googlebot'>45</ITM>"
    "<ITM LBL='Tom &#x0026; Jerry'>80</ITM><ITM LBL='curl' ALT='1'>15</ITM></VYR_CHART_DATA>";

void SetData(plotwell::IVyrLogChart* chart, const std::string& document, const char* name) {
  SetText(chart, &plotwell::IVyrLogChart::SetData, document.c_str());
  BSTR caption = nullptr;
  chart->get_Caption(&caption);  // a new copy: the caller frees it
  std::printf("%s: document set, caption '%s'\n", name, Utf8FromBstr(caption).c_str());
  SysFreeString(caption);
}

// The control's property pages as tabs of a dialog, written back on OK. Page texts
// come from CoTaskMemAlloc and are the container's to free.
class PageSite final : public UnknownImpl<IPropertyPageSite, IID_IPropertyPageSite> {
 public:
  HRESULT OnStatusChange(DWORD) override { return S_OK; }
  HRESULT GetLocaleID(LCID* lcid) override {
    *lcid = LOCALE_USER_DEFAULT;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown** container) override {
    *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }
};

class PropertyFrame : public QDialog {
 public:
  PropertyFrame(IUnknown* control, QWidget* parent) : QDialog(parent) {
    auto* tabs = new QTabWidget(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ComPtr<ISpecifyPropertyPages> specify;
    CAUUID ids{0, nullptr};
    if (SUCCEEDED(control->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid()))) specify->GetPages(&ids);
    for (ULONG i = 0; i < ids.cElems; ++i) {
      ComPtr<IPropertyPage> page;
      PROPPAGEINFO info{sizeof info, nullptr, {300, 200}, nullptr, nullptr, 0};
      if (FAILED(CreateInstance(ids.pElems[i], IID_IPropertyPage, page.PutVoid())) || FAILED(page->GetPageInfo(&info)))
        continue;
      titles.push_back(QString::fromUtf16(info.pszTitle));
      CoTaskMemFree(info.pszTitle);
      CoTaskMemFree(info.pszDocString);
      CoTaskMemFree(info.pszHelpFile);
      page->SetPageSite(site_);
      page->SetObjects(1, &control);
      auto* holder = new QWidget;
      holder->setMinimumSize(info.size.cx, info.size.cy);
      tabs->addTab(holder, titles.back());
      RECT bounds{0, 0, info.size.cx, info.size.cy};
      page->Activate(holder, &bounds, 1);
      pages_.push_back(page);
    }
    CoTaskMemFree(ids.pElems);
    connect(this, &QDialog::accepted, this, [this] {
      for (auto& page : pages_)
        if (page->IsPageDirty() == S_OK) page->Apply();
    });
  }
  ~PropertyFrame() override {
    for (auto& page : pages_) {
      page->Deactivate();
      page->SetObjects(0, nullptr);
      page->SetPageSite(nullptr);
    }
    site_->Release();
  }
  QStringList titles;

 private:
  PageSite* site_ = new PageSite;
  std::vector<ComPtr<IPropertyPage>> pages_;
};

// A window's area for one windowless control: paints it and forwards the mouse.
class ChartView : public QWidget {
 public:
  explicit ChartView(IUnknown* control) : control_(control) {
    control->QueryInterface(IID_IVyrWindowlessControl, view_.PutVoid());
    setMouseTracking(true);
    setMinimumSize(420, 300);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    RECT bounds{0, 0, width(), height()};
    view_->Draw(&painter, &bounds);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::RightButton) {
      PropertyFrame frame(control_.Get(), this);
      frame.exec();
      update();
    } else {
      Forward(WM_LBUTTONDOWN, e);
    }
  }
  void mouseReleaseEvent(QMouseEvent* e) override { Forward(WM_LBUTTONUP, e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override { Forward(WM_LBUTTONDBLCLK, e); }
  void mouseMoveEvent(QMouseEvent* e) override { Forward(WM_MOUSEMOVE, e); }

 private:
  void Forward(UINT message, QMouseEvent* e) {
    LRESULT result = 0;
    const QPoint p = e->position().toPoint();
    view_->OnWindowMessage(message, e->buttons() & Qt::LeftButton ? MK_LBUTTON : 0, MakeMouseLParam(p.x(), p.y()),
                           &result);
  }
  ComPtr<IUnknown> control_;
  ComPtr<IVyrWindowlessControl> view_;
};

// Offscreen: both charts side by side into one picture, then a click on an item of the
// items chart (pressed and released where a bar stands, as a user would) and the pages.
int DrawToFile(const char* path, IUnknown* timeSeries, IUnknown* items, const int& itemClicks) {
  QImage image(840, 300, QImage::Format_RGB32);
  image.fill(Qt::white);
  ComPtr<IVyrWindowlessControl> tsView, itemsView;
  timeSeries->QueryInterface(IID_IVyrWindowlessControl, tsView.PutVoid());
  items->QueryInterface(IID_IVyrWindowlessControl, itemsView.PutVoid());
  QPainter painter(&image);
  RECT left{0, 0, 420, 300}, right{420, 0, 840, 300};
  HRESULT hr = tsView->Draw(&painter, &left);
  if (SUCCEEDED(hr)) hr = itemsView->Draw(&painter, &right);
  painter.end();
  if (FAILED(hr)) return Fail("drawing failed: " + HResultText(hr));
  if (!image.save(QString::fromLocal8Bit(path), "PNG")) return Fail(std::string("cannot write ") + path);
  std::printf("wrote %s\n", path);

  LRESULT result = 0;
  for (int x = 0; x < 420 && itemClicks == 0; x += 2) {
    itemsView->OnWindowMessage(WM_LBUTTONDOWN, MK_LBUTTON, MakeMouseLParam(x, 180), &result);
    itemsView->OnWindowMessage(WM_LBUTTONUP, 0, MakeMouseLParam(x, 180), &result);
  }
  PropertyFrame frame(timeSeries, nullptr);
  frame.show();
  QApplication::processEvents();
  std::printf("property pages: %s\n", frame.titles.join(QStringLiteral(", ")).toLocal8Bit().constData());
  if (itemClicks == 0) return Fail("no click event arrived");
  return frame.titles.isEmpty() ? Fail("the time series offers no property pages") : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool offscreen = argc > 1;
  if (offscreen && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);  // the controls draw with Qt: create it first

  ComPtr<plotwell::ITimeSeriesChart> timeSeries;  // by class identifier
  HRESULT hr = CreateRegistering([&] {
    return CreateInstance(plotwell::CLSID_TimeSeriesChart, plotwell::IID_ITimeSeriesChart, timeSeries.PutVoid());
  });
  ComPtr<plotwell::INNChart> items;  // by ProgID
  if (SUCCEEDED(hr))
    hr = CreateRegistering([&] { return CreateInstance(plotwell::kProgIdNNChart, plotwell::IID_INNChart, items.PutVoid()); });
  if (FAILED(hr)) return Fail("cannot create the Plotwell charts: " + HResultText(hr));

  SetText(timeSeries.Get(), &plotwell::IVyrLogChart::put_Caption, "Requests per hour");
  timeSeries->put_FilterType(0);   // hourly
  timeSeries->put_RegularGrid(1);  // empty hours keep their place
  timeSeries->put_ChartType(2);    // connected dots
  SetText(items.Get(), &plotwell::IVyrLogChart::put_Caption, "Browsers");
  items->put_LabelLength(12);
  items->put_ChartFillColor(0x80C0FF);  // 0x00BBGGRR
  SetData(timeSeries.Get(), TimeSeriesDocument(), "time series");
  SetData(items.Get(), kItemsDocument, "items");

  auto* tsEvents = new ChartEvents<plotwell::DIID__ITimeSeriesChartEvents>("time series");
  auto* itemEvents = new ChartEvents<plotwell::DIID__INNChartEvents>("items");
  int status = 0;
  {
    Connection tsConnection(timeSeries.Get(), plotwell::DIID__ITimeSeriesChartEvents, tsEvents);
    Connection itemConnection(items.Get(), plotwell::DIID__INNChartEvents, itemEvents);
    if (offscreen) {
      status = DrawToFile(argv[1], timeSeries.Get(), items.Get(), itemEvents->clicks);
    } else {
      QWidget window;
      window.setWindowTitle(QStringLiteral("Plotwell chart container"));
      auto* row = new QHBoxLayout(&window);
      row->addWidget(new ChartView(timeSeries.Get()));
      row->addWidget(new ChartView(items.Get()));
      window.show();
      status = app.exec();
    }
  }
  tsEvents->Release();
  itemEvents->Release();
  return status;
}
