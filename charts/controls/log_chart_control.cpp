#include "charts/controls/log_chart_control.h"

#include <QGuiApplication>

#include <chrono>
#include <cstring>

#include "charts/painter_surface.h"
#include "charts/svg_surface.h"
#include "vyrcom/stream.h"

namespace plotwell {

using namespace vyr::com;

namespace {

std::atomic<long> g_moduleLocks{0};

constexpr size_t kMaxPersistedText = 1u << 20;  // characters; a longer caption is a corrupt stream

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::u16string Lowered(const char16_t* text) {
  std::u16string out;
  for (; text && *text; ++text) out.push_back(LowerAscii(*text));
  return out;
}

struct NamedId {
  const char16_t* name;
  DISPID id;
};

// Names of IVyrLogChart, matched without regard to case as dispatch names are.
constexpr NamedId kCommonNames[] = {
    {u"setdata", DISPID_SETDATA},
    {u"charttype", DISPID_CHARTTYPE},
    {u"measuretype", DISPID_MEASURETYPE},
    {u"caption", DISPID_CAPTION},
    {u"chartfillcolor", DISPID_CHARTFILLCOLOR},
    {u"chartbkgcolor", DISPID_CHARTBKGCOLOR},
    {u"chartitemhollow", DISPID_CHARTITEMHOLLOW},
    {u"chartpencolor", DISPID_CHARTPENCOLOR},
    {u"rulerbkgcolor", DISPID_RULERBKGCOLOR},
    {u"rulerpencolor", DISPID_RULERPENCOLOR},
    {u"ruleraltcolor", DISPID_RULERALTCOLOR},
    {u"chartaltfillcolor", DISPID_CHARTALTFILLCOLOR},
    {u"chartaltpencolor", DISPID_CHARTALTPENCOLOR},
};

OleColor ChartProperties::*ColorMember(DISPID id) {
  switch (id) {
    case DISPID_CHARTFILLCOLOR: return &ChartProperties::chartFillColor;
    case DISPID_CHARTBKGCOLOR: return &ChartProperties::chartBkgColor;
    case DISPID_CHARTPENCOLOR: return &ChartProperties::chartPenColor;
    case DISPID_RULERBKGCOLOR: return &ChartProperties::rulerBkgColor;
    case DISPID_RULERPENCOLOR: return &ChartProperties::rulerPenColor;
    case DISPID_RULERALTCOLOR: return &ChartProperties::rulerAltColor;
    case DISPID_CHARTALTFILLCOLOR: return &ChartProperties::chartAltFillColor;
    case DISPID_CHARTALTPENCOLOR: return &ChartProperties::chartAltPenColor;
    default: return nullptr;
  }
}

BSTR BstrFromQString(const QString& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()), static_cast<UINT>(text.size()));
}

// Stream records of the persisted values: the variant type, then the value.
HRESULT WriteValue(IStream* stream, const VARIANT& v) {
  HRESULT hr = WriteExact(stream, &v.vt, sizeof v.vt);
  if (FAILED(hr)) return hr;
  switch (v.vt) {
    case VT_I2: return WriteExact(stream, &v.iVal, sizeof v.iVal);
    case VT_BOOL: return WriteExact(stream, &v.boolVal, sizeof v.boolVal);
    case VT_I4:
    case VT_UI4: return WriteExact(stream, &v.lVal, sizeof v.lVal);
    case VT_BSTR: {
      uint32_t length = SysStringLen(v.bstrVal);
      hr = WriteExact(stream, &length, sizeof length);
      if (FAILED(hr) || length == 0) return hr;
      return WriteExact(stream, v.bstrVal, length * static_cast<ULONG>(sizeof(OLECHAR)));
    }
    default: return DISP_E_BADVARTYPE;
  }
}

HRESULT ReadValue(IStream* stream, VARTYPE expected, VARIANT* v) {
  VariantInit(v);
  VARTYPE vt = 0;
  HRESULT hr = ReadExact(stream, &vt, sizeof vt);
  if (FAILED(hr)) return hr;
  if (vt != expected) return DISP_E_TYPEMISMATCH;
  v->vt = vt;
  switch (vt) {
    case VT_I2: return ReadExact(stream, &v->iVal, sizeof v->iVal);
    case VT_BOOL: return ReadExact(stream, &v->boolVal, sizeof v->boolVal);
    case VT_I4:
    case VT_UI4: return ReadExact(stream, &v->lVal, sizeof v->lVal);
    case VT_BSTR: {
      uint32_t length = 0;
      hr = ReadExact(stream, &length, sizeof length);
      if (FAILED(hr)) return hr;
      if (length > kMaxPersistedText) return STG_E_READFAULT;
      v->bstrVal = SysAllocStringLen(nullptr, length);
      if (!v->bstrVal) return E_OUTOFMEMORY;
      return length ? ReadExact(stream, v->bstrVal, length * static_cast<ULONG>(sizeof(OLECHAR))) : S_OK;
    }
    default: return DISP_E_BADVARTYPE;
  }
}

}  // namespace

void ModuleLock() { g_moduleLocks.fetch_add(1, std::memory_order_relaxed); }
void ModuleUnlock() { g_moduleLocks.fetch_sub(1, std::memory_order_acq_rel); }
long ModuleLockCount() { return g_moduleLocks.load(std::memory_order_acquire); }

std::uint32_t SteadyMilliseconds() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LogChartControl::LogChartControl(const CLSID& clsid, const IID& eventsIid)
    : clsid_(clsid), events_(this, eventsIid) {
  ModuleLock();
}

LogChartControl::~LogChartControl() {
  events_.DisconnectAll();
  ModuleUnlock();
}

void LogChartControl::Initialise() { chart_ = CreateDataModel(); }

void LogChartControl::Repaint() {
  // Windowless: the container invalidates our area and paints us again.
  if (site_) site_->InvalidateRect(nullptr, 1);
}

// --- IPersistStreamInit -------------------------------------------------------------

HRESULT LogChartControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

HRESULT LogChartControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT LogChartControl::Save(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  HRESULT hr = WriteExact(stream, &extent_.cx, sizeof extent_.cx);
  if (SUCCEEDED(hr)) hr = WriteExact(stream, &extent_.cy, sizeof extent_.cy);
  size_t count = 0;
  const PersistedProperty* map = PropertyMap(&count);
  for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    VARIANT value;
    VariantInit(&value);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    hr = DispatchInvoke(map[i].dispId, DISPATCH_PROPERTYGET, &none, &value, nullptr);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&value, &value, 0, map[i].type);
    if (SUCCEEDED(hr)) hr = WriteValue(stream, value);
    VariantClear(&value);
  }
  if (SUCCEEDED(hr) && clearDirty) dirty_ = false;
  return hr;
}

HRESULT LogChartControl::Load(IStream* stream) {
  if (!stream) return E_POINTER;
  SIZE extent{};
  HRESULT hr = ReadExact(stream, &extent.cx, sizeof extent.cx);
  if (SUCCEEDED(hr)) hr = ReadExact(stream, &extent.cy, sizeof extent.cy);
  if (FAILED(hr)) return hr;
  if (extent.cx < 0 || extent.cy < 0) return DISP_E_OVERFLOW;
  extent_ = extent;
  size_t count = 0;
  const PersistedProperty* map = PropertyMap(&count);
  for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    VARIANT value;
    hr = ReadValue(stream, map[i].type, &value);
    if (SUCCEEDED(hr)) {
      DISPID named = DISPID_PROPERTYPUT;
      DISPPARAMS params{&value, &named, 1, 1};
      hr = DispatchInvoke(map[i].dispId, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr);
    }
    VariantClear(&value);
  }
  if (FAILED(hr)) return hr;
  dirty_ = false;
  Repaint();
  return S_OK;
}

HRESULT LogChartControl::GetSizeMax(uint64_t* size) {
  if (!size) return E_POINTER;
  size_t count = 0;
  const PersistedProperty* map = PropertyMap(&count);
  uint64_t total = 2 * sizeof(LONG);
  for (size_t i = 0; i < count; ++i) {
    total += sizeof(VARTYPE);
    if (map[i].type == VT_BSTR)
      total += sizeof(uint32_t) + static_cast<uint64_t>(chart_->Properties().caption.size()) * sizeof(OLECHAR);
    else
      total += map[i].type == VT_I2 || map[i].type == VT_BOOL ? 2 : 4;
  }
  *size = total;
  return S_OK;
}

HRESULT LogChartControl::InitNew() { return S_OK; }

// --- connection points and property pages ---------------------------------------------

HRESULT LogChartControl::EnumConnectionPoints(void** enumerator) {
  if (enumerator) *enumerator = nullptr;
  return E_NOTIMPL;
}

HRESULT LogChartControl::FindConnectionPoint(const IID& iid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!(iid == events_.Iid())) return CONNECT_E_NOCONNECTION;
  *point = &events_;
  events_.AddRef();
  return S_OK;
}

HRESULT LogChartControl::GetPages(CAUUID* pages) {
  if (!pages) return E_POINTER;
  size_t count = 0;
  const CLSID* ids = Pages(&count);
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(count * sizeof(GUID)));
  if (!pages->pElems) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  std::memcpy(pages->pElems, ids, count * sizeof(GUID));
  pages->cElems = static_cast<ULONG>(count);
  return S_OK;
}

// --- type information ------------------------------------------------------------------

HRESULT LogChartControl::DispatchTypeInfo(UINT index, ITypeInfo** typeInfo) {
  if (!typeInfo) return E_POINTER;
  *typeInfo = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return CreateTypeInfo(&DualType(), Identity(), typeInfo);
}

HRESULT LogChartControl::GetClassInfo(ITypeInfo** typeInfo) {
  if (!typeInfo) return E_POINTER;
  return CreateTypeInfo(&ClassType(), Identity(), typeInfo);
}

HRESULT LogChartControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  *guid = GUID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  *guid = events_.Iid();
  return S_OK;
}

// --- windowless drawing and the mouse ----------------------------------------------------

HRESULT LogChartControl::SetSite(IVyrControlSite* site) {
  site_ = ComPtr<IVyrControlSite>(site);
  return S_OK;
}

HRESULT LogChartControl::GetExtent(SIZE* himetric) {
  if (!himetric) return E_POINTER;
  *himetric = extent_;
  return S_OK;
}

HRESULT LogChartControl::SetExtent(const SIZE* himetric) {
  if (!himetric) return E_POINTER;
  if (himetric->cx < 0 || himetric->cy < 0) return E_INVALIDARG;
  if (himetric->cx != extent_.cx || himetric->cy != extent_.cy) {
    extent_ = *himetric;
    SetDirty();
  }
  return S_OK;
}

HRESULT LogChartControl::Draw(QPainter* painter, const RECT* bounds) {
  if (!painter || !bounds) return E_POINTER;
  // Text needs the application's fonts; without a QGuiApplication Qt would end the whole
  // container instead of failing this call.
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
  lastBounds_ = Rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
  QPainterSurface surface(*painter);
  return chart_->OnDraw(surface, lastBounds_);
}

HRESULT LogChartControl::DrawSvg(LONG width, LONG height, BSTR* svg) {
  if (!svg) return E_POINTER;
  *svg = nullptr;
  if (width < 1 || height < 1 || width > kMaxSvgSide || height > kMaxSvgSide) return E_INVALIDARG;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return E_UNEXPECTED;
  SvgSurface surface(width, height);
  HRESULT hr = chart_->OnDraw(surface, Rect{0, 0, width, height});
  if (FAILED(hr)) return hr;
  *svg = BstrFromUtf8(surface.Finish());
  return *svg ? S_OK : E_OUTOFMEMORY;
}

std::uint32_t LogChartControl::MessageTime() {
  ULONG ms = 0;
  if (site_ && SUCCEEDED(site_->GetMessageTime(&ms))) return ms;
  return SteadyMilliseconds();
}

void LogChartControl::HandleMouseMove(int x, int y, WPARAM wParam, LPARAM lParam) {
  if (hoverValid_ && hoverRect_.Contains(x, y)) return;
  hoverValid_ = false;
  int i = chart_->HitTest(x, y);
  if (i < 0) return;
  if (toleranceValid_ && toleranceRect_.Contains(x, y)) {
    // The mouse rested within the tolerance over this item: one hover per entry.
    if (chart_->ItemRect(i, &hoverRect_)) hoverValid_ = true;
    FireHover(i, wParam, lParam);
  } else {
    toleranceRect_ = {x - kHoverWidth / 2, y - kHoverHeight / 2, x + kHoverWidth / 2, y + kHoverHeight / 2};
    toleranceValid_ = true;
  }
}

HRESULT LogChartControl::OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (result) *result = 0;
  // Client coordinates relative to the control; the chart hit-tests in paint coordinates.
  const int x = MouseX(lParam) + lastBounds_.left;
  const int y = MouseY(lParam) + lastBounds_.top;
  switch (message) {
    case WM_MOUSEMOVE:
      HandleMouseMove(x, y, wParam, lParam);
      return S_OK;
    case WM_LBUTTONDOWN: {
      int i = chart_->HitTest(x, y);
      if (i < 0) return S_FALSE;
      pressedItem_ = i;
      pressTime_ = MessageTime();
      return S_OK;
    }
    case WM_LBUTTONUP: {
      int pressed = pressedItem_;
      pressedItem_ = -1;
      if (pressed >= 0 && chart_->HitTest(x, y) == pressed && MessageTime() - pressTime_ <= kClickMilliseconds)
        FireClick(pressed, wParam, lParam);
      return S_OK;
    }
    case WM_LBUTTONDBLCLK: {
      int i = chart_->HitTest(x, y);
      if (i < 0) return S_FALSE;
      FireDblClick(i, wParam, lParam);
      return S_OK;
    }
    default:
      return S_FALSE;
  }
}

void LogChartControl::Fire(DISPID id, int index, WPARAM wParam, LPARAM lParam) {
  if (!events_.HasSinks()) return;
  VARIANT args[6];
  for (VARIANT& a : args) {
    VariantInit(&a);
    a.vt = VT_I4;
  }
  // The dispatch protocol wants the last argument first.
  try {
    args[5].lVal = index;
    args[3].lVal = chart_->Data().CountAt(index);
    args[2].lVal = chart_->Data().ValueAt(index);
  } catch (...) {
    return;
  }
  if (!EventArguments(index, &args[4])) return;
  args[1].lVal = static_cast<int32_t>(wParam);
  args[0].lVal = static_cast<int32_t>(lParam);
  DISPPARAMS params{args, nullptr, 6, 0};
  // A sink may release the control from inside its handler.
  ComPtr<IUnknown> keepAlive(Identity());
  events_.FireAll(id, &params);
  for (VARIANT& a : args) VariantClear(&a);
}

// --- properties --------------------------------------------------------------------------

HRESULT LogChartControl::DoSetData(BSTR data) {
  QString text = data ? QString::fromUtf16(data, SysStringLen(data)) : QString();
  HRESULT hr = chart_->SetData(text);
  if (FAILED(hr)) return hr;
  Repaint();
  return S_OK;
}

HRESULT LogChartControl::GetChartType(SHORT* value) { return Answer(value, chart_->Properties().chartType); }

HRESULT LogChartControl::PutChartType(SHORT value) {
  if (!IsValidChartType(value)) return E_INVALIDARG;
  chart_->Properties().chartType = static_cast<ChartType>(value);
  return Changed();
}

HRESULT LogChartControl::GetMeasureType(SHORT* value) { return Answer(value, chart_->Properties().measureType); }

HRESULT LogChartControl::PutMeasureType(SHORT value) {
  if (!IsValidMeasureType(value)) return E_INVALIDARG;
  chart_->Properties().measureType = value;
  return Changed();
}

HRESULT LogChartControl::GetCaption(BSTR* value) {
  if (!value) return E_POINTER;
  *value = BstrFromQString(chart_->Properties().caption);
  return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT LogChartControl::PutCaption(BSTR value) {
  try {
    chart_->Properties().caption = value ? QString::fromUtf16(value, SysStringLen(value)) : QString();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return Changed();
}

HRESULT LogChartControl::GetColor(OleColor ChartProperties::*member, OLE_COLOR* value) {
  return Answer(value, chart_->Properties().*member);
}

HRESULT LogChartControl::PutColor(OleColor ChartProperties::*member, OLE_COLOR value) {
  chart_->Properties().*member = value;
  return Changed();
}

HRESULT LogChartControl::GetChartItemHollow(BOOL* value) {
  return Answer(value, chart_->Properties().chartItemHollow ? 1 : 0);
}

HRESULT LogChartControl::PutChartItemHollow(BOOL value) {
  chart_->Properties().chartItemHollow = value != 0;
  return Changed();
}

// --- IDispatch -----------------------------------------------------------------------------

HRESULT LogChartControl::DispatchIdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  std::u16string name = Lowered(names[0]);
  ids[0] = DISPID_UNKNOWN;
  for (const NamedId& entry : kCommonNames)
    if (name == entry.name) ids[0] = entry.id;
  if (ids[0] == DISPID_UNKNOWN) ids[0] = OwnIdOfName(name);
  // Our members take no named arguments.
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT LogChartControl::DispatchInvoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                        UINT* argError) {
  if (!params) return E_POINTER;
  if (argError) *argError = 0;
  const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put) {
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs > 1 || (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
      return DISP_E_NONAMEDARGS;
  } else {
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs != (id == DISPID_SETDATA ? 1u : 0u)) return DISP_E_BADPARAMCOUNT;
  }
  VARIANT ignored;
  VariantInit(&ignored);
  VARIANT* out = result ? result : &ignored;
  if (result) VariantClear(result);
  VARIANT* value = params->cArgs ? &params->rgvarg[0] : nullptr;
  HRESULT hr = DISP_E_MEMBERNOTFOUND;
  if (id == DISPID_SETDATA) {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    VARIANT text;
    VariantInit(&text);
    hr = VariantChangeType(&text, value, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    hr = DoSetData(text.bstrVal);
    VariantClear(&text);
  } else if (!put && !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) {
    return DISP_E_MEMBERNOTFOUND;
  } else {
    hr = InvokeCommon(id, put ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYGET, value, out);
    if (hr == DISP_E_MEMBERNOTFOUND)
      hr = InvokeOwn(id, put ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYGET, value, out);
  }
  VariantClear(&ignored);
  return hr;
}

namespace {

// value converted to type; take reads the number out of the converted copy.
template <typename Take>
HRESULT ConvertArgument(VARIANT* value, VARTYPE type, Take take) {
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = VariantChangeType(&v, value, 0, type);
  if (SUCCEEDED(hr)) take(v);
  return hr;
}

// Values a property's type cannot hold are out of range, not of the wrong type.
HRESULT OutOfRange(HRESULT hr) { return hr == DISP_E_OVERFLOW ? E_INVALIDARG : hr; }

}  // namespace

HRESULT ShortArgument(VARIANT* value, SHORT* out) {
  return OutOfRange(ConvertArgument(value, VT_I2, [out](const VARIANT& v) { *out = v.iVal; }));
}

HRESULT LongArgument(VARIANT* value, LONG* out) {
  return OutOfRange(ConvertArgument(value, VT_I4, [out](const VARIANT& v) { *out = v.lVal; }));
}

namespace {

HRESULT ColorArgument(VARIANT* value, OLE_COLOR* out) {
  // OLE_COLOR arrives as VT_UI4 or, from many containers, as VT_I4 with the same bits.
  if (value->vt == VT_I4 || value->vt == VT_INT) {
    *out = static_cast<OLE_COLOR>(value->lVal);
    return S_OK;
  }
  VARIANT v;
  VariantInit(&v);
  HRESULT hr = VariantChangeType(&v, value, 0, VT_UI4);
  if (hr == DISP_E_OVERFLOW) {
    hr = VariantChangeType(&v, value, 0, VT_I4);
    if (SUCCEEDED(hr)) v.ulVal = static_cast<uint32_t>(v.lVal);
  }
  if (SUCCEEDED(hr)) *out = v.ulVal;
  return hr;
}

}  // namespace

HRESULT BoolArgument(VARIANT* value, BOOL* out) {
  return ConvertArgument(value, VT_I4, [out](const VARIANT& v) { *out = v.lVal; });
}

HRESULT LogChartControl::InvokeCommon(DISPID id, WORD flags, VARIANT* value, VARIANT* result) {
  const bool put = flags == DISPATCH_PROPERTYPUT;
  if (OleColor ChartProperties::*member = ColorMember(id)) {
    if (!put) {
      result->vt = VT_UI4;
      return GetColor(member, &result->ulVal);
    }
    OLE_COLOR color = 0;
    HRESULT hr = ColorArgument(value, &color);
    return FAILED(hr) ? hr : PutColor(member, color);
  }
  switch (id) {
    case DISPID_CHARTTYPE:
    case DISPID_MEASURETYPE: {
      if (put)
        return PutConverted(value, ShortArgument,
                            [&](SHORT v) { return id == DISPID_CHARTTYPE ? PutChartType(v) : PutMeasureType(v); });
      result->vt = VT_I2;
      return id == DISPID_CHARTTYPE ? GetChartType(&result->iVal) : GetMeasureType(&result->iVal);
    }
    case DISPID_CAPTION: {
      if (!put) {
        result->vt = VT_BSTR;
        return GetCaption(&result->bstrVal);
      }
      VARIANT text;
      VariantInit(&text);
      HRESULT hr = VariantChangeType(&text, value, 0, VT_BSTR);
      if (SUCCEEDED(hr)) hr = PutCaption(text.bstrVal);
      VariantClear(&text);
      return hr;
    }
    case DISPID_CHARTITEMHOLLOW:
      if (put) return PutConverted(value, BoolArgument, [this](BOOL v) { return PutChartItemHollow(v); });
      return GetAsVariantBool(result, [this](BOOL* v) { return GetChartItemHollow(v); });
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

}  // namespace plotwell
