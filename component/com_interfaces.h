#pragma once
// The interfaces components and containers talk through. Each is a pure virtual class
// whose slots stand in the declared order and whose arguments are C types (plus opaque
// pointers to Qt's painter and widget), so a container built on its own can call a
// server library it only loads at run time.
#include "component/com_types.h"

class QPainter;
class QWidget;

namespace vyr::com {

struct IUnknown {
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are destroyed by their last Release
};
constexpr IID IID_IUnknown = GuidLiteral("00000000-0000-0000-C000-000000000046");

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};
constexpr IID IID_IClassFactory = GuidLiteral("00000001-0000-0000-C000-000000000046");

struct IDispatch : IUnknown {
  // No type information is published; both answer 0 / E_NOTIMPL.
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, void** typeInfo) = 0;
  virtual HRESULT GetIDsOfNames(const IID& iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, const IID& iid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
};
constexpr IID IID_IDispatch = GuidLiteral("00020400-0000-0000-C000-000000000046");

struct IConnectionPointContainer;

struct IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  // The sink must answer the connection interface; cookies are never 0.
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(void** enumerator) = 0;  // E_NOTIMPL
};
constexpr IID IID_IConnectionPoint = GuidLiteral("B196B286-BAB4-101A-B69C-00AA00341D07");

struct IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(void** enumerator) = 0;  // E_NOTIMPL
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;
};
constexpr IID IID_IConnectionPointContainer = GuidLiteral("B196B284-BAB4-101A-B69C-00AA00341D07");

// Origins of IStream::Seek.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

struct IStream : IUnknown {
  // Reads up to size bytes; at the end of the stream *read falls short of size with S_OK.
  // read and written may be null.
  virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;
  virtual HRESULT Seek(int64_t move, DWORD origin, uint64_t* newPosition) = 0;
  virtual HRESULT SetSize(uint64_t size) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT GetSize(uint64_t* size) = 0;
};
constexpr IID IID_IStream = GuidLiteral("0000000C-0000-0000-C000-000000000046");

struct IPersist : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
};
constexpr IID IID_IPersist = GuidLiteral("0000010C-0000-0000-C000-000000000046");

struct IPersistStreamInit : IPersist {
  virtual HRESULT IsDirty() = 0;  // S_OK when there are unsaved changes, else S_FALSE
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(uint64_t* size) = 0;
  virtual HRESULT InitNew() = 0;
};
constexpr IID IID_IPersistStreamInit = GuidLiteral("7FD52380-4E07-101B-AE2D-08002B2EC713");

struct ISpecifyPropertyPages : IUnknown {
  // pages->pElems comes from CoTaskMemAlloc; the caller frees it.
  virtual HRESULT GetPages(CAUUID* pages) = 0;
};
constexpr IID IID_ISpecifyPropertyPages = GuidLiteral("B196B28B-BAB4-101A-B69C-00AA00341D07");

// Status bits a page reports to its site.
constexpr DWORD PROPPAGESTATUS_DIRTY = 0x01;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x02;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x04;

struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;      // CoTaskMemAlloc'd, NUL-terminated; the caller frees the texts
  SIZE size;              // pixels
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;   // null: no help
  DWORD dwHelpContext;
};

struct IPropertyPageSite : IUnknown {
  virtual HRESULT OnStatusChange(DWORD flags) = 0;
  virtual HRESULT GetLocaleID(LCID* lcid) = 0;
  virtual HRESULT GetPageContainer(IUnknown** container) = 0;
  virtual HRESULT TranslateAccelerator(void* message) = 0;
};
constexpr IID IID_IPropertyPageSite = GuidLiteral("B196B28C-BAB4-101A-B69C-00AA00341D07");

struct IPropertyPage : IUnknown {
  virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;
  // Creates the page's widget as a child of parent, placed at bounds, filled from the
  // first object.
  virtual HRESULT Activate(QWidget* parent, const RECT* bounds, BOOL modal) = 0;
  virtual HRESULT Deactivate() = 0;
  virtual HRESULT GetPageInfo(PROPPAGEINFO* info) = 0;
  virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
  virtual HRESULT Show(UINT show) = 0;  // 0 hides, anything else shows
  virtual HRESULT Move(const RECT* bounds) = 0;
  virtual HRESULT IsPageDirty() = 0;  // S_OK when dirty, else S_FALSE
  virtual HRESULT Apply() = 0;
  virtual HRESULT Help(LPCOLESTR helpDir) = 0;
  virtual HRESULT TranslateAccelerator(void* message) = 0;
};
constexpr IID IID_IPropertyPage = GuidLiteral("B196B28D-BAB4-101A-B69C-00AA00341D07");

struct IVyrControlSite;

// A control that draws into the container's painter and receives the container's mouse
// messages instead of owning a window.
struct IVyrWindowlessControl : IUnknown {
  virtual HRESULT SetSite(IVyrControlSite* site) = 0;
  virtual HRESULT GetExtent(SIZE* himetric) = 0;
  virtual HRESULT SetExtent(const SIZE* himetric) = 0;
  // Paints the whole control into bounds (the painter's coordinates).
  virtual HRESULT Draw(QPainter* painter, const RECT* bounds) = 0;
  // WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK with the key state in
  // wParam and MakeMouseLParam(x, y) relative to the control's bounds. S_FALSE: not
  // handled, the container may apply its default handling.
  virtual HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
};
constexpr IID IID_IVyrWindowlessControl = GuidLiteral("7964016C-B15C-410C-BEDD-28AF28F7F194");

// The container's side of a windowless control.
struct IVyrControlSite : IUnknown {
  // rect null: the whole control.
  virtual HRESULT InvalidateRect(const RECT* rect, BOOL erase) = 0;
  // The time in milliseconds of the message being handled (any fixed origin); E_NOTIMPL
  // lets the control read its own clock.
  virtual HRESULT GetMessageTime(ULONG* milliseconds) = 0;
};
constexpr IID IID_IVyrControlSite = GuidLiteral("7A79BD40-3865-4278-86A3-4865CFBC1D62");

// Types of a server library's entry points, looked up by name with dlsym.
extern "C" {
using DllGetClassObjectFn = HRESULT (*)(const CLSID* clsid, const IID* iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
}

}  // namespace vyr::com
