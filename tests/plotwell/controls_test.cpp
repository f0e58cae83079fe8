#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include <QApplication>

#include "vyrcom/instance.h"
#include "component/qt/control_host.h"
#include "vyrcom/registry.h"
#include "vyrcom/stream.h"
#include "tests/plotwell/plotwell_test_container.h"

using namespace plotwell;
using namespace plotwell::test;

namespace {

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureApplication();
    ASSERT_EQ(RegisterServer(LibraryPath()), S_OK);
  }
  RegistryScope registry_;
};

template <class I>
ComPtr<I> As(IUnknown* object, const IID& iid) {
  ComPtr<I> out;
  EXPECT_EQ(object->QueryInterface(iid, out.PutVoid()), S_OK);
  return out;
}

// One point inside each entry's item, found by asking the control itself (a double
// click reports the entry under the point).
std::map<int, POINT> ItemPoints(HostedControl& host, int width, int height, int yStep = 3) {
  std::map<int, std::vector<POINT>> hits;
  for (int y = 0; y < height; y += yStep) {
    for (int x = 0; x < width; x += 3) {
      size_t before = host.sink.events.size();
      host.Mouse(WM_LBUTTONDBLCLK, x, y);
      if (host.sink.events.size() > before) hits[host.sink.events.back().ints[0]].push_back(POINT{x, y});
    }
  }
  host.sink.events.clear();
  std::map<int, POINT> centres;
  for (auto& [index, points] : hits) centres[index] = points[points.size() / 2];
  return centres;
}

BSTR Text(const char* text) { return BstrFromUtf8(text); }

// The value a property get answers.
template <class O, class I, class T>
T Get(O* object, HRESULT (I::*get)(T*)) {
  T value{};
  EXPECT_EQ((object->*get)(&value), S_OK);
  return value;
}

}  // namespace

TEST_F(Controls, BothClassesAreCreatedThroughTheRegistryWithTheirInterfaces) {
  ComPtr<IUnknown> ts, nn;
  ASSERT_EQ(CreateInstance(CLSID_TimeSeriesChart, IID_IUnknown, ts.PutVoid()), S_OK);
  ASSERT_EQ(CreateInstance("Plotwell.NNChart", IID_IUnknown, nn.PutVoid()), S_OK);  // via CurVer
  for (const IID& iid : {IID_ITimeSeriesChart, IID_IVyrLogChart, IID_IDispatch, IID_IPersistStreamInit, IID_IPersist,
                         IID_IConnectionPointContainer, IID_ISpecifyPropertyPages, IID_IVyrWindowlessControl}) {
    ComPtr<IUnknown> i;
    EXPECT_EQ(ts->QueryInterface(iid, i.PutVoid()), S_OK) << FormatGuid(iid);
  }
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(ts->QueryInterface(IID_INNChart, wrong.PutVoid()), E_NOINTERFACE);
  EXPECT_EQ(nn->QueryInterface(IID_ITimeSeriesChart, wrong.PutVoid()), E_NOINTERFACE);
  // One identity whichever interface asks.
  auto dual = As<IVyrLogChart>(nn.Get(), IID_IVyrLogChart);
  ComPtr<IUnknown> identity;
  dual->QueryInterface(IID_IUnknown, identity.PutVoid());
  EXPECT_EQ(identity.Get(), nn.Get());

  auto pagesOf = [](IUnknown* object) {
    CAUUID pages{0, nullptr};
    EXPECT_EQ(As<ISpecifyPropertyPages>(object, IID_ISpecifyPropertyPages)->GetPages(&pages), S_OK);
    std::vector<GUID> ids(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    return ids;
  };
  EXPECT_EQ(pagesOf(ts.Get()), (std::vector<GUID>{CLSID_PPGeneral, CLSID_PPTimeSeries, CLSID_PPAppear}));
  EXPECT_EQ(pagesOf(nn.Get()), (std::vector<GUID>{CLSID_PPGeneral, CLSID_PPLabels, CLSID_PPAppear}));

  void* object = nullptr;
  auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(Entry("DllGetClassObject"));
  GUID unknownClass = NewGuid();
  EXPECT_EQ(getClassObject(&unknownClass, &IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Controls, PropertiesKeepTheirRangesAndSideEffects) {
  HostedControl host(CLSID_TimeSeriesChart, DIID__ITimeSeriesChartEvents);
  auto chart = As<ITimeSeriesChart>(host.unknown.Get(), IID_ITimeSeriesChart);
  auto persist = As<IPersistStreamInit>(host.unknown.Get(), IID_IPersistStreamInit);
  EXPECT_EQ(Get(chart.Get(), &ITimeSeriesChart::get_ChartType), 4);
  EXPECT_EQ(Get(chart.Get(), &ITimeSeriesChart::get_ChartFillColor), 0xBFFF80u);
  EXPECT_EQ(Get(chart.Get(), &ITimeSeriesChart::get_RulerAltColor), 0xFF0000u);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  // Refused puts change nothing: no value, no dirty flag, no repaint.
  EXPECT_EQ(chart->put_ChartType(5), E_INVALIDARG);
  EXPECT_EQ(chart->put_ChartType(-1), E_INVALIDARG);
  EXPECT_EQ(chart->put_MeasureType(2), E_INVALIDARG);
  EXPECT_EQ(chart->put_FilterType(4), E_INVALIDARG);
  EXPECT_EQ(chart->put_FilterType(-1), E_INVALIDARG);
  EXPECT_EQ(Get(chart.Get(), &ITimeSeriesChart::get_ChartType), 4);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  EXPECT_EQ(host.site.invalidations, 0);

  // Accepted puts mark the control dirty and repaint it, one repaint each.
  int repaints = 0;
  EXPECT_EQ(chart->put_ChartType(0), S_OK);
  EXPECT_EQ(host.site.invalidations, ++repaints);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  EXPECT_EQ(chart->put_MeasureType(1), S_OK);
  EXPECT_EQ(chart->put_FilterType(3), S_OK);
  EXPECT_EQ(chart->put_RegularGrid(7), S_OK);
  EXPECT_EQ(chart->put_ChartItemHollow(1), S_OK);
  EXPECT_EQ(chart->put_ChartAltPenColor(0x80000005), S_OK);  // a system colour reference is kept as given
  repaints += 5;
  EXPECT_EQ(host.site.invalidations, repaints);
  EXPECT_NE(Get(chart.Get(), &ITimeSeriesChart::get_RegularGrid), 0);
  EXPECT_EQ(Get(chart.Get(), &ITimeSeriesChart::get_ChartAltPenColor), 0x80000005u);

  BSTR caption = Text("Requests per hour");
  EXPECT_EQ(chart->put_Caption(caption), S_OK);
  SysFreeString(caption);  // the control keeps its own copy
  BSTR back = nullptr;
  ASSERT_EQ(chart->get_Caption(&back), S_OK);
  EXPECT_EQ(Utf8FromBstr(back), "Requests per hour");
  SysFreeString(back);

  // LabelLength of the non-numeric chart is stored only.
  HostedControl items(CLSID_NNChart, DIID__INNChartEvents);
  auto nn = As<INNChart>(items.unknown.Get(), IID_INNChart);
  auto nnPersist = As<IPersistStreamInit>(items.unknown.Get(), IID_IPersistStreamInit);
  EXPECT_EQ(Get(nn.Get(), &INNChart::get_LabelLength), 16);
  EXPECT_EQ(nn->put_LabelLength(1), E_INVALIDARG);
  EXPECT_EQ(nn->put_LabelLength(65), E_INVALIDARG);
  EXPECT_EQ(nn->put_LabelLength(64), S_OK);
  EXPECT_EQ(Get(nn.Get(), &INNChart::get_LabelLength), 64);
  EXPECT_EQ(nnPersist->IsDirty(), S_FALSE);
  EXPECT_EQ(items.site.invalidations, 0);
}

TEST_F(Controls, DispatchByNameCoversPropertiesAndSetData) {
  HostedControl host(CLSID_NNChart, DIID__INNChartEvents);
  auto dispatch = As<IDispatch>(host.unknown.Get(), IID_IDispatch);
  auto idOf = [&](const char16_t* name) {
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = 0;
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return FAILED(hr) ? hr : id;
  };
  EXPECT_EQ(idOf(u"chartTYPE"), DISPID_CHARTTYPE);
  EXPECT_EQ(idOf(u"LabelLength"), DISPID_LABELLENGTH);
  EXPECT_EQ(idOf(u"FilterType"), DISP_E_UNKNOWNNAME);  // a time-series property only
  EXPECT_EQ(idOf(u"SetData"), DISPID_SETDATA);

  auto put = [&](DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                                  nullptr, nullptr);
    VariantClear(&value);
    return hr;
  };
  auto get = [&](DISPID id, VARIANT* out) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, out, nullptr, nullptr);
  };
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Text("3");
  EXPECT_EQ(put(DISPID_CHARTTYPE, v), S_OK);
  v.vt = VT_I4;
  v.lVal = 70000;  // does not fit the 16-bit property: out of range
  EXPECT_EQ(put(DISPID_CHARTTYPE, v), E_INVALIDARG);
  v.vt = VT_I4;
  v.lVal = static_cast<int32_t>(0x80000005u);  // OLE_COLOR as VT_I4
  EXPECT_EQ(put(DISPID_RULERPENCOLOR, v), S_OK);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_EQ(put(DISPID_CHARTITEMHOLLOW, v), S_OK);
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(get(DISPID_CHARTTYPE, &out), S_OK);
  EXPECT_EQ(out.vt, VT_I2);
  EXPECT_EQ(out.iVal, 3);
  ASSERT_EQ(get(DISPID_RULERPENCOLOR, &out), S_OK);
  EXPECT_EQ(out.vt, VT_UI4);
  EXPECT_EQ(out.ulVal, 0x80000005u);
  ASSERT_EQ(get(DISPID_CHARTITEMHOLLOW, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BOOL);
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  EXPECT_EQ(get(99, &out), DISP_E_MEMBERNOTFOUND);

  // SetData through Invoke; a rejected document answers its code and does not repaint.
  int before = host.site.invalidations;
  VARIANT document;
  VariantInit(&document);
  document.vt = VT_BSTR;
  document.bstrVal = Text("<VYR_CHART_DATA><ITM LBL='x'>1</ITM><ITM LBL='y'>2</ITM></VYR_CHART_DATA>");
  DISPPARAMS call{&document, nullptr, 1, 0};
  EXPECT_EQ(dispatch->Invoke(DISPID_SETDATA, IID_NULL, 0, DISPATCH_METHOD, &call, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(host.site.invalidations, before + 1);
  VariantClear(&document);
  document.vt = VT_BSTR;
  document.bstrVal = Text("<VYR_CHART_DATA><ITM LBL='a<b'>1</ITM></VYR_CHART_DATA>");
  EXPECT_EQ(dispatch->Invoke(DISPID_SETDATA, IID_NULL, 0, DISPATCH_METHOD, &call, nullptr, nullptr, nullptr),
            static_cast<HRESULT>(0x90000001u));
  EXPECT_EQ(host.site.invalidations, before + 1);
  VariantClear(&document);
}

TEST_F(Controls, MouseFiresHoverClickAndDoubleClickToTheSink) {
  HostedControl host(CLSID_NNChart, DIID__INNChartEvents);
  auto chart = As<INNChart>(host.unknown.Get(), IID_INNChart);
  BSTR data = Text("<VYR_CHART_DATA><ITM LBL='Mozilla' CNT='4'>12</ITM><ITM LBL='Tom &#x0026; Jerry'>30</ITM>"
                   "<ITM LBL='Opera' ALT='1'>20</ITM></VYR_CHART_DATA>");
  ASSERT_EQ(chart->SetData(data), S_OK);
  SysFreeString(data);
  host.Paint(420, 320);
  std::map<int, POINT> at = ItemPoints(host, 420, 320);
  ASSERT_EQ(at.size(), 3u);
  auto& events = host.sink.events;
  const POINT p = at[1];

  // Hover: the first move arms the tolerance, resting within it fires once per entry.
  host.Mouse(WM_MOUSEMOVE, p.x, p.y);
  EXPECT_TRUE(events.empty());
  host.Mouse(WM_MOUSEMOVE, p.x + 1, p.y, MK_SHIFT);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, DISPID_ONMOUSEHOVER);
  EXPECT_EQ(events[0].ints, (std::vector<int32_t>{1, 0, 1, 30, static_cast<int32_t>(MK_SHIFT),
                                                  static_cast<int32_t>(MakeMouseLParam(p.x + 1, p.y))}));
  EXPECT_EQ(events[0].name, "Tom & Jerry");
  host.Mouse(WM_MOUSEMOVE, p.x + 2, p.y + 1);
  host.Mouse(WM_MOUSEMOVE, p.x, p.y);
  EXPECT_EQ(events.size(), 1u);  // still inside the same item
  host.Mouse(WM_MOUSEMOVE, 0, 0);
  host.Mouse(WM_MOUSEMOVE, p.x, p.y);
  EXPECT_EQ(events.size(), 2u);  // a new entry into the item
  events.clear();

  // Click: down and up on the same item within 500 ms.
  const POINT q = at[2];
  host.site.now = 5000;
  EXPECT_EQ(host.Mouse(WM_LBUTTONDOWN, q.x, q.y, MK_LBUTTON), S_OK);
  host.site.now = 5500;
  host.Mouse(WM_LBUTTONUP, q.x, q.y);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, DISPID_ONMOUSECLICK);
  EXPECT_EQ(events[0].ints[0], 2);
  EXPECT_EQ(events[0].name, "Opera");
  EXPECT_EQ(events[0].ints[2], 1);   // nCount
  EXPECT_EQ(events[0].ints[3], 20);  // nVal
  // Released over another item, or 600 ms later: no click.
  host.Mouse(WM_LBUTTONDOWN, q.x, q.y);
  host.Mouse(WM_LBUTTONUP, at[0].x, at[0].y);
  host.site.now = 6000;
  host.Mouse(WM_LBUTTONDOWN, q.x, q.y);
  host.site.now = 6600;
  host.Mouse(WM_LBUTTONUP, q.x, q.y);
  // A release without a press on an item, and a press beside every item, do nothing.
  host.Mouse(WM_LBUTTONUP, q.x, q.y);
  EXPECT_EQ(host.Mouse(WM_LBUTTONDOWN, 1, 1), S_FALSE);
  host.Mouse(WM_LBUTTONUP, 1, 1);
  EXPECT_EQ(events.size(), 1u);

  // Double click fires only the double-click event for the second press.
  events.clear();
  host.site.now = 8000;
  host.Mouse(WM_LBUTTONDOWN, at[0].x, at[0].y);
  host.Mouse(WM_LBUTTONUP, at[0].x, at[0].y);
  host.Mouse(WM_LBUTTONDBLCLK, at[0].x, at[0].y);
  host.Mouse(WM_LBUTTONUP, at[0].x, at[0].y);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].id, DISPID_ONMOUSECLICK);
  EXPECT_EQ(events[1].id, DISPID_ONMOUSEDBLCLICK);
  EXPECT_EQ(events[1].ints[2], 4);  // the item's count

  // Without a sink nothing is fired and nothing fails.
  ASSERT_EQ(host.point->Unadvise(host.cookie), S_OK);
  host.cookie = 0;
  host.Mouse(WM_LBUTTONDBLCLK, at[0].x, at[0].y);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(Controls, TimeSeriesEventsCarryTheBucketTimeOfGaps) {
  HostedControl host(CLSID_TimeSeriesChart, DIID__ITimeSeriesChartEvents);
  auto chart = As<ITimeSeriesChart>(host.unknown.Get(), IID_ITimeSeriesChart);
  ASSERT_EQ(chart->put_FilterType(3), S_OK);  // yearly
  ASSERT_EQ(chart->put_RegularGrid(1), S_OK);
  // Mid-year samples of 2001 and 2004: entries 2001, gap 2002, gap 2003, 2004.
  BSTR data = Text("<VYR_CHART_DATA><ITM TM='994000000'>5</ITM><ITM TM='1088000000'>7</ITM></VYR_CHART_DATA>");
  ASSERT_EQ(chart->SetData(data), S_OK);
  SysFreeString(data);
  host.Paint(500, 300);
  std::map<int, POINT> at = ItemPoints(host, 500, 300, 1);  // a flat bar is two pixels tall
  ASSERT_TRUE(at.count(1)) << "the gap's flat bar can be hit";
  host.Mouse(WM_LBUTTONDBLCLK, at[1].x, at[1].y);
  ASSERT_EQ(host.sink.events.size(), 1u);
  const EventRecord& e = host.sink.events[0];
  EXPECT_EQ(e.ints[0], 1);
  EXPECT_EQ(e.ints[2], 0);
  EXPECT_EQ(e.ints[3], 0);
  time_t tm = e.ints[1];
  struct tm local {};
  localtime_r(&tm, &local);
  EXPECT_EQ(local.tm_year + 1900, 2002);
  EXPECT_EQ(local.tm_mon, 0);
  EXPECT_EQ(local.tm_mday, 1);
  EXPECT_EQ(local.tm_hour, 0);
}

TEST_F(Controls, PersistedPropertiesSurviveSaveAndLoad) {
  ComPtr<ITimeSeriesChart> a, b;
  ASSERT_EQ(CreateInstance(CLSID_TimeSeriesChart, IID_ITimeSeriesChart, a.PutVoid()), S_OK);
  ASSERT_EQ(CreateInstance(CLSID_TimeSeriesChart, IID_ITimeSeriesChart, b.PutVoid()), S_OK);
  BSTR caption = Text("Visits \xE2\x80\x94 daily");
  a->put_Caption(caption);
  SysFreeString(caption);
  a->put_MeasureType(1);
  a->put_RegularGrid(1);
  a->put_FilterType(2);
  a->put_ChartType(1);
  a->put_ChartFillColor(0x112233);
  a->put_ChartBkgColor(0x445566);
  a->put_ChartPenColor(0x778899);
  a->put_ChartItemHollow(1);
  a->put_RulerBkgColor(0x80000005);
  a->put_RulerPenColor(0x010203);
  a->put_RulerAltColor(0x040506);
  a->put_ChartAltFillColor(0x070809);
  a->put_ChartAltPenColor(0x0A0B0C);
  auto persistA = As<IPersistStreamInit>(a.Get(), IID_IPersistStreamInit);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateMemoryStream(stream.Put()), S_OK);
  ASSERT_EQ(persistA->Save(stream.Get(), 1), S_OK);
  EXPECT_EQ(persistA->IsDirty(), S_FALSE);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(MemoryStreamBytes(stream.Get(), &bytes));
  int32_t extent[2];
  std::memcpy(extent, bytes.data(), sizeof extent);  // the extent comes first
  EXPECT_EQ(extent[0], 5080);
  EXPECT_EQ(extent[1], 5080);

  stream->Seek(0, STREAM_SEEK_SET, nullptr);
  auto persistB = As<IPersistStreamInit>(b.Get(), IID_IPersistStreamInit);
  ASSERT_EQ(persistB->Load(stream.Get()), S_OK);
  EXPECT_EQ(persistB->IsDirty(), S_FALSE);
  BSTR back = nullptr;
  b->get_Caption(&back);
  EXPECT_EQ(Utf8FromBstr(back), "Visits \xE2\x80\x94 daily");
  SysFreeString(back);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_MeasureType), 1);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_FilterType), 2);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_ChartType), 1);
  EXPECT_NE(Get(b.Get(), &ITimeSeriesChart::get_RegularGrid), 0);
  EXPECT_NE(Get(b.Get(), &ITimeSeriesChart::get_ChartItemHollow), 0);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_ChartFillColor), 0x112233u);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_RulerBkgColor), 0x80000005u);
  EXPECT_EQ(Get(b.Get(), &ITimeSeriesChart::get_ChartAltPenColor), 0x0A0B0Cu);

  // The non-numeric map holds the label length instead of grid and filter.
  ComPtr<INNChart> n1, n2;
  ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_INNChart, n1.PutVoid()), S_OK);
  ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_INNChart, n2.PutVoid()), S_OK);
  n1->put_LabelLength(33);
  ComPtr<IStream> nnStream;
  CreateMemoryStream(nnStream.Put());
  ASSERT_EQ(As<IPersistStreamInit>(n1.Get(), IID_IPersistStreamInit)->Save(nnStream.Get(), 1), S_OK);
  nnStream->Seek(0, STREAM_SEEK_SET, nullptr);
  ASSERT_EQ(As<IPersistStreamInit>(n2.Get(), IID_IPersistStreamInit)->Load(nnStream.Get()), S_OK);
  EXPECT_EQ(Get(n2.Get(), &INNChart::get_LabelLength), 33);

  // A truncated stream is an error, not a crash; a stream of the other class does not load.
  ComPtr<IStream> cut;
  CreateMemoryStream(cut.Put(), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20));
  EXPECT_TRUE(FAILED(persistB->Load(cut.Get())));
  nnStream->Seek(0, STREAM_SEEK_SET, nullptr);
  EXPECT_TRUE(FAILED(persistB->Load(nnStream.Get())));
}

TEST_F(Controls, LibraryStaysWhileObjectsOrLocksLive) {
  auto canUnload = reinterpret_cast<DllCanUnloadNowFn>(Entry("DllCanUnloadNow"));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK);
  {
    ComPtr<IUnknown> control;
    ASSERT_EQ(CreateInstance(CLSID_NNChart, IID_IUnknown, control.PutVoid()), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  EXPECT_EQ(canUnload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObject(CLSID_PPAppear, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(1);
  EXPECT_EQ(canUnload(), S_FALSE);
  factory->LockServer(0);
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(Registration, RegisterWritesTheScriptsAndUnregisterRestoresTheRegistry) {
  RegistryScope scope;
  ASSERT_EQ(UpdateRegistry([](RegistryData& data) {
              data.SetValue("Other.Thing\\CLSID", "", "{00000000-0000-0000-0000-000000000001}");
              data.SetValue("CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32", "", "/x.so");
              return S_OK;
            }),
            S_OK);
  RegistryData before;
  ASSERT_EQ(LoadRegistry(&before), S_OK);
  auto registerServer = reinterpret_cast<DllRegisterServerFn>(Entry("DllRegisterServer"));
  auto unregisterServer = reinterpret_cast<DllUnregisterServerFn>(Entry("DllUnregisterServer"));
  ASSERT_EQ(registerServer(), S_OK);
  ASSERT_EQ(registerServer(), S_OK);  // twice is the same as once

  RegistryData data;
  ASSERT_EQ(LoadRegistry(&data), S_OK);
  const std::string module = LibraryPath();
  char resolved[4096];
  ASSERT_NE(realpath(module.c_str(), resolved), nullptr);
  auto value = [&](const std::string& key, const std::string& name = "") {
    std::string v;
    EXPECT_TRUE(data.GetValue(key, name, &v)) << key << " " << name;
    return v;
  };
  const std::string ts = "CLSID\\{F9B2ACDB-9182-4BC4-BAE4-7C630821317A}";
  EXPECT_EQ(value(ts), "Vyr Time Series Log Chart Control");
  EXPECT_EQ(value(ts + "\\InprocServer32"), resolved);
  EXPECT_EQ(value(ts + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(value(ts + "\\ProgID"), "Plotwell.TimeSeriesChart.1");
  EXPECT_EQ(value(ts + "\\VersionIndependentProgID"), "Plotwell.TimeSeriesChart");
  EXPECT_EQ(value(ts + "\\ToolboxBitmap32"), std::string(resolved) + ", 102");
  EXPECT_EQ(value(ts + "\\MiscStatus"), "0");
  EXPECT_EQ(value(ts + "\\MiscStatus\\1"), "131473");
  EXPECT_EQ(value(ts + "\\TypeLib"), "{C7996958-DD1C-45DE-8CF4-07BC565A7174}");
  EXPECT_EQ(value(ts + "\\Version"), "1.0");
  for (const char* key : {"\\Control", "\\Insertable", "\\Programmable"}) EXPECT_TRUE(data.KeyExists(ts + key));
  EXPECT_EQ(value("Plotwell.TimeSeriesChart"), "Vyr Time Series Chart Control");
  EXPECT_EQ(value("Plotwell.TimeSeriesChart\\CurVer"), "Plotwell.TimeSeriesChart.1");
  EXPECT_EQ(value("Plotwell.NNChart.1\\CLSID"), "{F124BA1E-B0B0-415E-A4B1-86E122E8E51C}");
  EXPECT_EQ(value("CLSID\\{F124BA1E-B0B0-415E-A4B1-86E122E8E51C}\\ToolboxBitmap32"), std::string(resolved) + ", 117");
  EXPECT_EQ(value("CLSID\\{E19FFAF7-86A6-4C26-BF92-118C80B14CE7}"), "Vyr Log Chart TS Property Page");
  EXPECT_EQ(value("Plotwell.PPAppear\\CurVer"), "Plotwell.PPAppear.1");
  EXPECT_EQ(value("TypeLib\\{C7996958-DD1C-45DE-8CF4-07BC565A7174}\\1.0"), "Vyr Plotwell 1.0 Type Library");

  ASSERT_EQ(unregisterServer(), S_OK);
  RegistryData after;
  ASSERT_EQ(LoadRegistry(&after), S_OK);
  EXPECT_TRUE(after == before);
  EXPECT_FALSE(after.KeyExists("TypeLib"));
}

TEST_F(Controls, ControlHostCreatesPaintsAndForwardsToTheControl) {
  vyr::com::ControlHost host(QString::fromLatin1(kProgIdNNChart));
  ASSERT_EQ(host.CreationResult(), S_OK);
  host.resize(300, 200);
  host.show();
  QApplication::processEvents();
  auto chart = As<INNChart>(host.Control(), IID_INNChart);
  chart->put_ChartBkgColor(0x0000FF);  // red plot background
  QImage image = host.grab().toImage();
  EXPECT_EQ(image.pixelColor(150, 100), QColor(255, 0, 0));
  auto view = As<IVyrWindowlessControl>(host.Control(), IID_IVyrWindowlessControl);
  SIZE extent{};
  view->GetExtent(&extent);
  EXPECT_EQ(extent.cx, HimetricFromPixels(300));  // sized to the host

  vyr::com::ControlHost missing(QStringLiteral("{00000000-1111-2222-3333-444444444444}"));
  EXPECT_EQ(missing.CreationResult(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(missing.Control(), nullptr);
  missing.resize(50, 50);
  EXPECT_FALSE(missing.grab().isNull());
}
