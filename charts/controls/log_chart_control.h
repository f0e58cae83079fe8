#pragma once
// The two chart controls as components: the properties with their checks and side
// effects, SetData, persistence, the event connection point, windowless drawing and
// the mouse handling that fires the events. The chart logic itself is the core's
// LogChart; this layer adapts it to the component interfaces.
#include <atomic>
#include <cstdint>
#include <memory>

#include "charts/log_chart.h"
#include "plotwell/plotwell_interfaces.h"
#include "vyrcom/connection_point.h"
#include "vyrcom/type_info.h"

namespace plotwell {

// Every live object of the library and every LockServer hold counts here;
// DllCanUnloadNow answers from it.
void ModuleLock();
void ModuleUnlock();
long ModuleLockCount();

// The time source of the click timing when the container supplies none.
std::uint32_t SteadyMilliseconds();

// Dispatch arguments converted to the interface types; a number the type cannot hold
// is out of range (E_INVALIDARG).
vyr::com::HRESULT ShortArgument(vyr::com::VARIANT* value, vyr::com::SHORT* out);
vyr::com::HRESULT LongArgument(vyr::com::VARIANT* value, vyr::com::LONG* out);
vyr::com::HRESULT BoolArgument(vyr::com::VARIANT* value, vyr::com::BOOL* out);

// The usual get: E_POINTER without a place for the answer, else the value in it.
template <typename T, typename V>
vyr::com::HRESULT Answer(T* out, V value) {
  if (!out) return vyr::com::E_POINTER;
  *out = static_cast<T>(value);
  return vyr::com::S_OK;
}

// The put of a property through IDispatch: value converted (ShortArgument, ...), then set.
template <typename T, typename Set>
vyr::com::HRESULT PutConverted(vyr::com::VARIANT* value, vyr::com::HRESULT (*convert)(vyr::com::VARIANT*, T*),
                               Set set) {
  T v{};
  vyr::com::HRESULT hr = convert(value, &v);
  return vyr::com::FAILED(hr) ? hr : set(v);
}

// The get of a BOOL property through IDispatch: the answer as VT_BOOL.
template <typename Get>
vyr::com::HRESULT GetAsVariantBool(vyr::com::VARIANT* result, Get get) {
  vyr::com::BOOL v = 0;
  vyr::com::HRESULT hr = get(&v);
  result->vt = vyr::com::VT_BOOL;
  result->boolVal = v ? vyr::com::VARIANT_TRUE : vyr::com::VARIANT_FALSE;
  return hr;
}

// One entry of the persisted property map.
struct PersistedProperty {
  const char* name;
  vyr::com::DISPID dispId;
  vyr::com::VARTYPE type;
};

class LogChartControl : public vyr::com::IPersistStreamInit,
                        public vyr::com::IConnectionPointContainer,
                        public vyr::com::ISpecifyPropertyPages,
                        public vyr::com::IProvideClassInfo2,
                        public vyr::com::IVyrWindowlessControl,
                        public IVyrChartSvg {
 public:
  // The hover tolerance the desktop uses: the mouse must rest within it over an item.
  static constexpr int kHoverWidth = 4;
  static constexpr int kHoverHeight = 4;
  static constexpr std::uint32_t kClickMilliseconds = 500;
  // 5080 x 5080 HIMETRIC, two inches.
  static constexpr vyr::com::LONG kNaturalExtent = 5080;
  static constexpr vyr::com::LONG kMaxSvgSide = 16384;

  LogChartControl(const LogChartControl&) = delete;
  LogChartControl& operator=(const LogChartControl&) = delete;

  // IPersistStreamInit
  vyr::com::HRESULT GetClassID(vyr::com::CLSID* clsid) override;
  vyr::com::HRESULT IsDirty() override;
  vyr::com::HRESULT Load(vyr::com::IStream* stream) override;
  vyr::com::HRESULT Save(vyr::com::IStream* stream, vyr::com::BOOL clearDirty) override;
  vyr::com::HRESULT GetSizeMax(uint64_t* size) override;
  vyr::com::HRESULT InitNew() override;
  // IConnectionPointContainer
  vyr::com::HRESULT EnumConnectionPoints(void** enumerator) override;
  vyr::com::HRESULT FindConnectionPoint(const vyr::com::IID& iid, vyr::com::IConnectionPoint** point) override;
  // ISpecifyPropertyPages
  vyr::com::HRESULT GetPages(vyr::com::CAUUID* pages) override;
  // IProvideClassInfo2
  vyr::com::HRESULT GetClassInfo(vyr::com::ITypeInfo** typeInfo) override;
  vyr::com::HRESULT GetGUID(vyr::com::DWORD kind, vyr::com::GUID* guid) override;
  // IVyrWindowlessControl
  vyr::com::HRESULT SetSite(vyr::com::IVyrControlSite* site) override;
  vyr::com::HRESULT GetExtent(vyr::com::SIZE* himetric) override;
  vyr::com::HRESULT SetExtent(const vyr::com::SIZE* himetric) override;
  vyr::com::HRESULT Draw(QPainter* painter, const vyr::com::RECT* bounds) override;
  vyr::com::HRESULT OnWindowMessage(vyr::com::UINT message, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam,
                                    vyr::com::LRESULT* result) override;
  // IVyrChartSvg
  vyr::com::HRESULT DrawSvg(vyr::com::LONG width, vyr::com::LONG height, vyr::com::BSTR* svg) override;

  // The properties of IVyrLogChart, with their checks and effects.
  vyr::com::HRESULT DoSetData(vyr::com::BSTR data);
  vyr::com::HRESULT GetChartType(vyr::com::SHORT* value);
  vyr::com::HRESULT PutChartType(vyr::com::SHORT value);
  vyr::com::HRESULT GetMeasureType(vyr::com::SHORT* value);
  vyr::com::HRESULT PutMeasureType(vyr::com::SHORT value);
  vyr::com::HRESULT GetCaption(vyr::com::BSTR* value);
  vyr::com::HRESULT PutCaption(vyr::com::BSTR value);
  vyr::com::HRESULT GetColor(OleColor ChartProperties::*member, vyr::com::OLE_COLOR* value);
  vyr::com::HRESULT PutColor(OleColor ChartProperties::*member, vyr::com::OLE_COLOR value);
  vyr::com::HRESULT GetChartItemHollow(vyr::com::BOOL* value);
  vyr::com::HRESULT PutChartItemHollow(vyr::com::BOOL value);

  // IDispatch by name and by identifier, over every property of the control, and its
  // type information.
  vyr::com::HRESULT DispatchTypeInfo(vyr::com::UINT index, vyr::com::ITypeInfo** typeInfo);
  vyr::com::HRESULT DispatchIdsOfNames(vyr::com::LPOLESTR* names, vyr::com::UINT count, vyr::com::DISPID* ids);
  vyr::com::HRESULT DispatchInvoke(vyr::com::DISPID id, vyr::com::WORD flags, vyr::com::DISPPARAMS* params,
                                   vyr::com::VARIANT* result, vyr::com::UINT* argError);

  LogChart& Chart() { return *chart_; }
  bool Dirty() const { return dirty_; }

 protected:
  LogChartControl(const vyr::com::CLSID& clsid, const vyr::com::IID& eventsIid);
  virtual ~LogChartControl();
  // Called by the most derived constructor: the data model (and the chart around it).
  void Initialise();

  // Hooks of the two controls, in this order.
  virtual std::unique_ptr<LogChart> CreateDataModel() = 0;
  virtual void FireHover(int index, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam) = 0;
  virtual void FireClick(int index, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam) = 0;
  virtual void FireDblClick(int index, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam) = 0;
  // The second argument of the events differs: tm or bstrName. Fills all six in
  // reverse order; false when an argument cannot be had.
  virtual bool EventArguments(int index, vyr::com::VARIANT* second) = 0;
  // Properties only one control has; DISP_E_MEMBERNOTFOUND when the id is not one.
  virtual vyr::com::HRESULT InvokeOwn(vyr::com::DISPID id, vyr::com::WORD flags, vyr::com::VARIANT* value,
                                      vyr::com::VARIANT* result) = 0;
  virtual vyr::com::DISPID OwnIdOfName(const std::u16string& name) = 0;
  virtual const PersistedProperty* PropertyMap(size_t* count) const = 0;
  virtual const vyr::com::CLSID* Pages(size_t* count) const = 0;
  // The dispatch view of the dual interface, and the class.
  virtual const vyr::com::TypeDescription& DualType() const = 0;
  virtual const vyr::com::TypeDescription& ClassType() const = 0;

  // Effects of a put.
  void SetDirty() { dirty_ = true; }
  void Repaint();
  // Both, answering hr.
  vyr::com::HRESULT Changed(vyr::com::HRESULT hr = vyr::com::S_OK) {
    SetDirty();
    Repaint();
    return hr;
  }
  // Fires one event method to every connected sink.
  void Fire(vyr::com::DISPID id, int index, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam);
  virtual vyr::com::IUnknown* Identity() = 0;

  std::atomic<vyr::com::ULONG> refs_{1};

 private:
  vyr::com::HRESULT InvokeCommon(vyr::com::DISPID id, vyr::com::WORD flags, vyr::com::VARIANT* value,
                                 vyr::com::VARIANT* result);
  std::uint32_t MessageTime();
  void HandleMouseMove(int x, int y, vyr::com::WPARAM wParam, vyr::com::LPARAM lParam);

  vyr::com::CLSID clsid_;
  std::unique_ptr<LogChart> chart_;
  vyr::com::ConnectionPoint events_;
  vyr::com::ComPtr<vyr::com::IVyrControlSite> site_;
  vyr::com::SIZE extent_{kNaturalExtent, kNaturalExtent};
  bool dirty_ = false;
  Rect lastBounds_{};
  // Mouse state: the item the mouse hovers (its rectangle), the tolerance rectangle
  // it must rest in, and the item the left button went down on.
  bool hoverValid_ = false;
  Rect hoverRect_{};
  bool toleranceValid_ = false;
  Rect toleranceRect_{};
  int pressedItem_ = -1;
  std::uint32_t pressTime_ = 0;
};

}  // namespace plotwell
