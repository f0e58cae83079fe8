#pragma once
// The interfaces components and containers talk through. Each is a pure virtual class
// whose slots stand in the declared order and whose arguments are C types (plus opaque
// pointers to Qt's painter and widget), so a container built on its own can call a
// server library it only loads at run time.
#include "vyrcom/com_types.h"

class QPainter;
class QWidget;

namespace vyr::com {

struct VYRCOM_API IUnknown {
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects are destroyed by their last Release
};
constexpr IID IID_IUnknown = GuidLiteral("00000000-0000-0000-C000-000000000046");

struct VYRCOM_API IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};
constexpr IID IID_IClassFactory = GuidLiteral("00000001-0000-0000-C000-000000000046");

struct ITypeInfo;

struct VYRCOM_API IDispatch : IUnknown {
  // 1 when the object describes itself through GetTypeInfo(0), else 0.
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) = 0;
  virtual HRESULT GetIDsOfNames(const IID& iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, const IID& iid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
};
constexpr IID IID_IDispatch = GuidLiteral("00020400-0000-0000-C000-000000000046");

// --- type information ----------------------------------------------------------------
// What an object says about its members, so that a host that knows nothing of it can
// list its properties, methods and events. The records follow the dispatch view of a
// dual interface: a property is one function per direction under one DISPID.
using MEMBERID = DISPID;
using HREFTYPE = DWORD;
constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;  // the type itself, in GetDocumentation

enum TYPEKIND : int32_t {
  TKIND_ENUM = 0,
  TKIND_RECORD = 1,
  TKIND_MODULE = 2,
  TKIND_INTERFACE = 3,
  TKIND_DISPATCH = 4,
  TKIND_COCLASS = 5,
  TKIND_ALIAS = 6,
  TKIND_UNION = 7,
};
enum INVOKEKIND : int32_t {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};
enum FUNCKIND : int32_t { FUNC_VIRTUAL = 0, FUNC_PUREVIRTUAL = 1, FUNC_NONVIRTUAL = 2, FUNC_STATIC = 3, FUNC_DISPATCH = 4 };
enum CALLCONV : int32_t { CC_CDECL = 1 };

// TYPEATTR::wTypeFlags
constexpr WORD TYPEFLAG_FCANCREATE = 0x0002;
constexpr WORD TYPEFLAG_FCONTROL = 0x0020;
constexpr WORD TYPEFLAG_FDUAL = 0x0040;
constexpr WORD TYPEFLAG_FOLEAUTOMATION = 0x0100;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
// GetImplTypeFlags: the default interface and the default source (the events).
constexpr int32_t IMPLTYPEFLAG_FDEFAULT = 0x1;
constexpr int32_t IMPLTYPEFLAG_FSOURCE = 0x2;
// PARAMDESC::wParamFlags
constexpr WORD PARAMFLAG_FIN = 0x1;

struct TYPEDESC {
  VARTYPE vt;
};
struct PARAMDESC {
  void* pparamdescex;  // always null: no default values
  WORD wParamFlags;
};
struct ELEMDESC {
  TYPEDESC tdesc;
  PARAMDESC paramdesc;
};

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;  // bytes of the virtual table, dual interfaces only
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
};

struct FUNCDESC {
  MEMBERID memid;
  ELEMDESC* lprgelemdescParam;  // cParams entries, first argument first
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  int16_t cParams;
  int16_t cParamsOpt;
  int16_t oVft;  // byte offset of the member's slot in a dual interface's table, else 0
  ELEMDESC elemdescFunc;  // the value a property get yields; VT_VOID otherwise
  WORD wFuncFlags;
};

// Texts come back as BSTRs the caller frees; TYPEATTR and FUNCDESC records go back to
// ReleaseTypeAttr and ReleaseFuncDesc of the type information that gave them.
struct VYRCOM_API ITypeInfo : IUnknown {
  virtual HRESULT GetTypeAttr(TYPEATTR** attributes) = 0;
  virtual HRESULT GetTypeComp(void** typeComp) = 0;  // E_NOTIMPL
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** function) = 0;
  virtual HRESULT GetVarDesc(UINT index, void** variable) = 0;  // TYPE_E_ELEMENTNOTFOUND: no variables
  // The member's name, then its parameters' names; *count of them were filled.
  virtual HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) = 0;
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) = 0;
  virtual HRESULT GetImplTypeFlags(UINT index, int32_t* flags) = 0;
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
  // Calls the member on instance (an object of this type) through its IDispatch.
  virtual HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception, UINT* argError) = 0;
  // Any of the out-parameters may be null.
  virtual HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  virtual HRESULT GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal) = 0;  // E_NOTIMPL
  virtual HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** typeInfo) = 0;
  virtual HRESULT AddressOfMember(MEMBERID id, INVOKEKIND kind, void** address) = 0;  // E_NOTIMPL
  // A class's type information creates an object of the class, through the registry.
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** object) = 0;
  virtual HRESULT GetMops(MEMBERID id, BSTR* mops) = 0;                             // E_NOTIMPL
  virtual HRESULT GetContainingTypeLib(void** typeLib, UINT* index) = 0;           // E_NOTIMPL
  virtual void ReleaseTypeAttr(TYPEATTR* attributes) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* function) = 0;
  virtual void ReleaseVarDesc(void* variable) = 0;
};
constexpr IID IID_ITypeInfo = GuidLiteral("00020401-0000-0000-C000-000000000046");

// A control's class: its type information lists the default interface and the event
// interface (the default source).
struct VYRCOM_API IProvideClassInfo : IUnknown {
  virtual HRESULT GetClassInfo(ITypeInfo** typeInfo) = 0;
};
constexpr IID IID_IProvideClassInfo = GuidLiteral("B196B283-BAB4-101A-B69C-00AA00341D07");

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

struct VYRCOM_API IProvideClassInfo2 : IProvideClassInfo {
  // GUIDKIND_DEFAULT_SOURCE_DISP_IID: the event interface to find the connection point by.
  virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;
};
constexpr IID IID_IProvideClassInfo2 = GuidLiteral("A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851");

struct IConnectionPointContainer;

struct VYRCOM_API IConnectionPoint : IUnknown {
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  // The sink must answer the connection interface; cookies are never 0.
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(void** enumerator) = 0;  // E_NOTIMPL
};
constexpr IID IID_IConnectionPoint = GuidLiteral("B196B286-BAB4-101A-B69C-00AA00341D07");

struct VYRCOM_API IConnectionPointContainer : IUnknown {
  virtual HRESULT EnumConnectionPoints(void** enumerator) = 0;  // E_NOTIMPL
  virtual HRESULT FindConnectionPoint(const IID& iid, IConnectionPoint** point) = 0;
};
constexpr IID IID_IConnectionPointContainer = GuidLiteral("B196B284-BAB4-101A-B69C-00AA00341D07");

// Origins of IStream::Seek.
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;

struct VYRCOM_API IStream : IUnknown {
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

struct VYRCOM_API IPersist : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
};
constexpr IID IID_IPersist = GuidLiteral("0000010C-0000-0000-C000-000000000046");

struct VYRCOM_API IPersistStreamInit : IPersist {
  virtual HRESULT IsDirty() = 0;  // S_OK when there are unsaved changes, else S_FALSE
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(uint64_t* size) = 0;
  virtual HRESULT InitNew() = 0;
};
constexpr IID IID_IPersistStreamInit = GuidLiteral("7FD52380-4E07-101B-AE2D-08002B2EC713");

struct VYRCOM_API ISpecifyPropertyPages : IUnknown {
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

struct VYRCOM_API IPropertyPageSite : IUnknown {
  virtual HRESULT OnStatusChange(DWORD flags) = 0;
  virtual HRESULT GetLocaleID(LCID* lcid) = 0;
  virtual HRESULT GetPageContainer(IUnknown** container) = 0;
  virtual HRESULT TranslateAccelerator(void* message) = 0;
};
constexpr IID IID_IPropertyPageSite = GuidLiteral("B196B28C-BAB4-101A-B69C-00AA00341D07");

struct VYRCOM_API IPropertyPage : IUnknown {
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
struct VYRCOM_API IVyrWindowlessControl : IUnknown {
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
struct VYRCOM_API IVyrControlSite : IUnknown {
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
