#include "charts/controls/chart_controls.h"

#include <array>
#include <new>
#include <span>

#include "charts/controls/chart_type_info.h"
#include "charts/controls/log_chart_control.h"

namespace plotwell {

using namespace vyr::com;

namespace {

// What one class persists, which pages edit it, and how it describes itself.
struct ControlTables {
  std::span<const PersistedProperty> map;
  std::span<const CLSID> pages;
  const TypeDescription* dualType;
  const TypeDescription* classType;
};

// A table as the hooks hand it over: its first entry, its length in count.
template <class T>
const T* HandOver(std::span<const T> table, size_t* count) {
  *count = table.size();
  return table.data();
}

// The dual interface of one control over LogChartControl: IUnknown, IDispatch and the
// IVyrLogChart slots, shared by both classes.
template <class Dual>
class ChartControl : public LogChartControl, public Dual {
 public:
  // IUnknown, for every interface of the object.
  HRESULT QueryInterface(const IID& iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IVyrLogChart || iid == DualIid())
      *object = static_cast<Dual*>(this);
    else if (iid == IID_IPersistStreamInit || iid == IID_IPersist)
      *object = static_cast<IPersistStreamInit*>(this);
    else if (iid == IID_IConnectionPointContainer)
      *object = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IID_ISpecifyPropertyPages)
      *object = static_cast<ISpecifyPropertyPages*>(this);
    else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
      *object = static_cast<IProvideClassInfo2*>(this);
    else if (iid == IID_IVyrWindowlessControl)
      *object = static_cast<IVyrWindowlessControl*>(this);
    else if (iid == IID_IVyrChartSvg)
      *object = static_cast<IVyrChartSvg*>(this);
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG Release() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) override { return DispatchTypeInfo(index, typeInfo); }
  HRESULT GetIDsOfNames(const IID&, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispatchIdsOfNames(names, count, ids);
  }
  HRESULT Invoke(DISPID id, const IID&, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                 UINT* argError) override {
    return DispatchInvoke(id, flags, params, result, argError);
  }

  // IVyrLogChart
  HRESULT SetData(BSTR bstrData) override { return DoSetData(bstrData); }
  HRESULT get_ChartType(SHORT* pVal) override { return GetChartType(pVal); }
  HRESULT put_ChartType(SHORT newVal) override { return PutChartType(newVal); }
  HRESULT get_MeasureType(SHORT* pVal) override { return GetMeasureType(pVal); }
  HRESULT put_MeasureType(SHORT newVal) override { return PutMeasureType(newVal); }
  HRESULT get_Caption(BSTR* pVal) override { return GetCaption(pVal); }
  HRESULT put_Caption(BSTR newVal) override { return PutCaption(newVal); }
  HRESULT get_ChartFillColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::chartFillColor, pVal); }
  HRESULT put_ChartFillColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::chartFillColor, newVal); }
  HRESULT get_ChartBkgColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::chartBkgColor, pVal); }
  HRESULT put_ChartBkgColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::chartBkgColor, newVal); }
  HRESULT get_ChartItemHollow(BOOL* pVal) override { return GetChartItemHollow(pVal); }
  HRESULT put_ChartItemHollow(BOOL newVal) override { return PutChartItemHollow(newVal); }
  HRESULT get_ChartPenColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::chartPenColor, pVal); }
  HRESULT put_ChartPenColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::chartPenColor, newVal); }
  HRESULT get_RulerBkgColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::rulerBkgColor, pVal); }
  HRESULT put_RulerBkgColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::rulerBkgColor, newVal); }
  HRESULT get_RulerPenColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::rulerPenColor, pVal); }
  HRESULT put_RulerPenColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::rulerPenColor, newVal); }
  HRESULT get_RulerAltColor(OLE_COLOR* pVal) override { return GetColor(&ChartProperties::rulerAltColor, pVal); }
  HRESULT put_RulerAltColor(OLE_COLOR newVal) override { return PutColor(&ChartProperties::rulerAltColor, newVal); }
  HRESULT get_ChartAltFillColor(OLE_COLOR* pVal) override {
    return GetColor(&ChartProperties::chartAltFillColor, pVal);
  }
  HRESULT put_ChartAltFillColor(OLE_COLOR newVal) override {
    return PutColor(&ChartProperties::chartAltFillColor, newVal);
  }
  HRESULT get_ChartAltPenColor(OLE_COLOR* pVal) override {
    return GetColor(&ChartProperties::chartAltPenColor, pVal);
  }
  HRESULT put_ChartAltPenColor(OLE_COLOR newVal) override {
    return PutColor(&ChartProperties::chartAltPenColor, newVal);
  }

 protected:
  ChartControl(const CLSID& clsid, const IID& eventsIid, const ControlTables& tables)
      : LogChartControl(clsid, eventsIid), tables_(tables) {}
  virtual const IID& DualIid() const = 0;
  IUnknown* Identity() override { return static_cast<Dual*>(this); }
  void FireHover(int index, WPARAM wParam, LPARAM lParam) override {
    Fire(DISPID_ONMOUSEHOVER, index, wParam, lParam);
  }
  void FireClick(int index, WPARAM wParam, LPARAM lParam) override {
    Fire(DISPID_ONMOUSECLICK, index, wParam, lParam);
  }
  void FireDblClick(int index, WPARAM wParam, LPARAM lParam) override {
    Fire(DISPID_ONMOUSEDBLCLICK, index, wParam, lParam);
  }
  const PersistedProperty* PropertyMap(size_t* count) const override { return HandOver(tables_.map, count); }
  const CLSID* Pages(size_t* count) const override { return HandOver(tables_.pages, count); }
  const TypeDescription& DualType() const override { return *tables_.dualType; }
  const TypeDescription& ClassType() const override { return *tables_.classType; }

 private:
  const ControlTables& tables_;
};

// What both controls persist after their own properties, in this order.
constexpr PersistedProperty kAppearanceMap[] = {
    {"Chart Type", DISPID_CHARTTYPE, VT_I2},
    {"Chart Fill Color", DISPID_CHARTFILLCOLOR, VT_UI4},
    {"Chart Bkg Color", DISPID_CHARTBKGCOLOR, VT_UI4},
    {"Chart Pen Color", DISPID_CHARTPENCOLOR, VT_UI4},
    {"Hollow items", DISPID_CHARTITEMHOLLOW, VT_BOOL},
    {"Ruler Bkg Color", DISPID_RULERBKGCOLOR, VT_UI4},
    {"Ruler Pen Color", DISPID_RULERPENCOLOR, VT_UI4},
    {"Ruler Alt Pen Color", DISPID_RULERALTCOLOR, VT_UI4},
    {"Chart alternative fill color", DISPID_CHARTALTFILLCOLOR, VT_UI4},
    {"Chart alternative pen color", DISPID_CHARTALTPENCOLOR, VT_UI4},
};

// One control's persisted map: its own properties, then the appearance.
template <std::size_t N>
constexpr std::array<PersistedProperty, N + std::size(kAppearanceMap)> WithAppearance(
    const PersistedProperty (&own)[N]) {
  std::array<PersistedProperty, N + std::size(kAppearanceMap)> map{};
  for (std::size_t i = 0; i < N; ++i) map[i] = own[i];
  for (std::size_t i = 0; i < std::size(kAppearanceMap); ++i) map[N + i] = kAppearanceMap[i];
  return map;
}

constexpr PersistedProperty kTimeSeriesOwn[] = {
    {"Caption", DISPID_CAPTION, VT_BSTR},
    {"Measure Type", DISPID_MEASURETYPE, VT_I2},
    {"Regular Grid", DISPID_REGULARGRID, VT_BOOL},
    {"TS Filter", DISPID_FILTERTYPE, VT_I2},
};
constexpr PersistedProperty kNonNumericOwn[] = {
    {"Caption", DISPID_CAPTION, VT_BSTR},
    {"Measure Type", DISPID_MEASURETYPE, VT_I2},
    {"Maximum Label Length", DISPID_LABELLENGTH, VT_I4},
};
constexpr auto kTimeSeriesMap = WithAppearance(kTimeSeriesOwn);
constexpr auto kNonNumericMap = WithAppearance(kNonNumericOwn);

// Distinct pages of each map in order of first appearance.
constexpr CLSID kTimeSeriesPages[] = {CLSID_PPGeneral, CLSID_PPTimeSeries, CLSID_PPAppear};
constexpr CLSID kNonNumericPages[] = {CLSID_PPGeneral, CLSID_PPLabels, CLSID_PPAppear};

const ControlTables kTimeSeriesTables = {kTimeSeriesMap, kTimeSeriesPages, &kTimeSeriesChartType,
                                         &kTimeSeriesChartClassType};
const ControlTables kNonNumericTables = {kNonNumericMap, kNonNumericPages, &kNNChartType, &kNNChartClassType};

class TimeSeriesChart final : public ChartControl<ITimeSeriesChart> {
 public:
  TimeSeriesChart() : ChartControl(CLSID_TimeSeriesChart, DIID__ITimeSeriesChartEvents, kTimeSeriesTables) {
    Initialise();
  }

  HRESULT get_FilterType(SHORT* pVal) override { return Answer(pVal, Chart().Properties().filterType); }
  HRESULT put_FilterType(SHORT newVal) override {
    if (!IsValidFilterType(newVal)) return E_INVALIDARG;
    // The value stays even when rebucketing fails; that failure is the answer.
    return Changed(TimeSeries().PutFilterType(newVal));
  }
  HRESULT get_RegularGrid(BOOL* pVal) override { return Answer(pVal, Chart().Properties().regularGrid ? 1 : 0); }
  HRESULT put_RegularGrid(BOOL newVal) override { return Changed(TimeSeries().PutRegularGrid(newVal)); }

 protected:
  const IID& DualIid() const override { return IID_ITimeSeriesChart; }
  std::unique_ptr<LogChart> CreateDataModel() override { return std::make_unique<TimeSeriesLogChart>(); }
  bool EventArguments(int index, VARIANT* second) override {
    try {
      second->vt = VT_I4;
      second->lVal = static_cast<int32_t>(TimeSeries().Data().BucketTime(index));
      return true;
    } catch (...) {
      return false;
    }
  }
  HRESULT InvokeOwn(DISPID id, WORD flags, VARIANT* value, VARIANT* result) override {
    const bool put = flags == DISPATCH_PROPERTYPUT;
    if (id == DISPID_FILTERTYPE) {
      if (put) return PutConverted(value, ShortArgument, [this](SHORT v) { return put_FilterType(v); });
      result->vt = VT_I2;
      return get_FilterType(&result->iVal);
    }
    if (id == DISPID_REGULARGRID) {
      if (put) return PutConverted(value, BoolArgument, [this](BOOL v) { return put_RegularGrid(v); });
      return GetAsVariantBool(result, [this](BOOL* v) { return get_RegularGrid(v); });
    }
    return DISP_E_MEMBERNOTFOUND;
  }
  DISPID OwnIdOfName(const std::u16string& name) override {
    if (name == u"filtertype") return DISPID_FILTERTYPE;
    if (name == u"regulargrid") return DISPID_REGULARGRID;
    return DISPID_UNKNOWN;
  }

 private:
  TimeSeriesLogChart& TimeSeries() { return static_cast<TimeSeriesLogChart&>(Chart()); }
};

class NNChart final : public ChartControl<INNChart> {
 public:
  NNChart() : ChartControl(CLSID_NNChart, DIID__INNChartEvents, kNonNumericTables) { Initialise(); }

  HRESULT get_LabelLength(LONG* pVal) override { return Answer(pVal, Chart().Properties().labelLength); }
  // Stored only: neither dirty nor a repaint.
  HRESULT put_LabelLength(LONG newVal) override { return NonNumeric().PutLabelLength(newVal); }

 protected:
  const IID& DualIid() const override { return IID_INNChart; }
  std::unique_ptr<LogChart> CreateDataModel() override { return std::make_unique<NonNumericLogChart>(); }
  bool EventArguments(int index, VARIANT* second) override {
    try {
      QString label = NonNumeric().Data().LabelTextAt(index);
      second->vt = VT_BSTR;
      second->bstrVal =
          SysAllocStringLen(reinterpret_cast<const OLECHAR*>(label.utf16()), static_cast<UINT>(label.size()));
      return second->bstrVal != nullptr;
    } catch (...) {
      return false;
    }
  }
  HRESULT InvokeOwn(DISPID id, WORD flags, VARIANT* value, VARIANT* result) override {
    if (id != DISPID_LABELLENGTH) return DISP_E_MEMBERNOTFOUND;
    if (flags == DISPATCH_PROPERTYPUT)
      return PutConverted(value, LongArgument, [this](LONG v) { return put_LabelLength(v); });
    result->vt = VT_I4;
    return get_LabelLength(&result->lVal);
  }
  DISPID OwnIdOfName(const std::u16string& name) override {
    return name == u"labellength" ? DISPID_LABELLENGTH : DISPID_UNKNOWN;
  }

 private:
  NonNumericLogChart& NonNumeric() { return static_cast<NonNumericLogChart&>(Chart()); }
};

template <class T>
HRESULT CreateControl(IUnknown* outer, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  T* control = nullptr;
  try {
    control = new T;
  } catch (...) {
    return E_OUTOFMEMORY;  // the data model could not be made
  }
  HRESULT hr = control->QueryInterface(iid, object);
  control->Release();
  return hr;
}

}  // namespace

HRESULT CreateTimeSeriesChart(IUnknown* outer, const IID& iid, void** object) {
  return CreateControl<TimeSeriesChart>(outer, iid, object);
}

HRESULT CreateNNChart(IUnknown* outer, const IID& iid, void** object) {
  return CreateControl<NNChart>(outer, iid, object);
}

}  // namespace plotwell
