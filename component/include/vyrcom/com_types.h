#pragma once
// Plain types shared by every component and container: result codes, identifiers,
// strings, automation values and the few geometry and message records the controls use.
// Everything here has a fixed C layout so that separately built libraries agree on it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vyrcom/vyrcom_export.h"

namespace vyr::com {

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using WORD = uint16_t;
using BOOL = int32_t;
using LONG = int32_t;
using SHORT = int16_t;
using LCID = uint32_t;
using DISPID = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using OLE_COLOR = uint32_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A length-prefixed UTF-16 string; see SysAllocString.
using BSTR = OLECHAR*;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// --- result codes -------------------------------------------------------------------
constexpr HRESULT MakeResult(uint32_t code) { return static_cast<HRESULT>(code); }
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
constexpr HRESULT E_POINTER = MakeResult(0x80004003);
constexpr HRESULT E_ABORT = MakeResult(0x80004004);
constexpr HRESULT E_FAIL = MakeResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
// A module file without resources, and a resource id the module does not hold.
constexpr HRESULT RESOURCE_E_DATANOTFOUND = MakeResult(0x80070714);
constexpr HRESULT RESOURCE_E_NAMENOTFOUND = MakeResult(0x80070716);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = MakeResult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MakeResult(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = MakeResult(0x80040152);
constexpr HRESULT REGDB_E_INVALIDVALUE = MakeResult(0x80040153);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MakeResult(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeResult(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = MakeResult(0x80040201);
constexpr HRESULT CONNECT_E_NOCONNECTION = MakeResult(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeResult(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeResult(0x80040202);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeResult(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeResult(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeResult(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeResult(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = MakeResult(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = MakeResult(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = MakeResult(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = MakeResult(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = MakeResult(0x8002000A);
constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeResult(0x8002000E);
constexpr HRESULT DISP_E_BADINDEX = MakeResult(0x8002000B);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeResult(0x8002000F);
constexpr HRESULT TYPE_E_WRONGTYPEKIND = MakeResult(0x8002802A);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = MakeResult(0x8002802B);
constexpr HRESULT STG_E_INVALIDFUNCTION = MakeResult(0x80030001);
constexpr HRESULT STG_E_FILENOTFOUND = MakeResult(0x80030002);
constexpr HRESULT STG_E_ACCESSDENIED = MakeResult(0x80030005);
constexpr HRESULT STG_E_INVALIDPOINTER = MakeResult(0x80030009);
constexpr HRESULT STG_E_WRITEFAULT = MakeResult(0x8003001D);
constexpr HRESULT STG_E_READFAULT = MakeResult(0x8003001E);
constexpr HRESULT STG_E_MEDIUMFULL = MakeResult(0x80030070);

constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

// "0x80070057" for messages.
VYRCOM_API std::string HResultText(HRESULT hr);

// --- identifiers ---------------------------------------------------------------------
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
VYRCOM_API bool operator<(const GUID& a, const GUID& b);

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;

namespace detail {
constexpr uint32_t HexDigit(char c) {
  return c >= '0' && c <= '9' ? static_cast<uint32_t>(c - '0')
         : c >= 'a' && c <= 'f' ? static_cast<uint32_t>(c - 'a' + 10)
         : c >= 'A' && c <= 'F' ? static_cast<uint32_t>(c - 'A' + 10)
                                : throw "not a hex digit";
}
constexpr uint32_t HexField(const char* s, int digits) {
  uint32_t value = 0;
  for (int i = 0; i < digits; ++i) value = value << 4 | HexDigit(s[i]);
  return value;
}
}  // namespace detail

// An identifier written as "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", checked at compile time.
consteval GUID GuidLiteral(const char (&s)[37]) {
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "bad identifier layout";
  GUID g{};
  g.Data1 = detail::HexField(s, 8);
  g.Data2 = static_cast<uint16_t>(detail::HexField(s + 9, 4));
  g.Data3 = static_cast<uint16_t>(detail::HexField(s + 14, 4));
  g.Data4[0] = static_cast<uint8_t>(detail::HexField(s + 19, 2));
  g.Data4[1] = static_cast<uint8_t>(detail::HexField(s + 21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(detail::HexField(s + 24 + 2 * i, 2));
  return g;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces required, hex in either case).
VYRCOM_API bool ParseGuid(std::string_view text, GUID* guid);
// Upper-case hex with braces, the form the registry keys use.
VYRCOM_API std::string FormatGuid(const GUID& guid);
// A fresh random identifier (version 4).
VYRCOM_API GUID NewGuid();

// --- strings -------------------------------------------------------------------------
// The 32-bit byte length sits in front of the characters and a NUL follows them; the
// block comes from malloc, so whichever library receives a BSTR may free it.
VYRCOM_API BSTR SysAllocString(const OLECHAR* text);
VYRCOM_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
VYRCOM_API void SysFreeString(BSTR text);
VYRCOM_API UINT SysStringLen(BSTR text);
// Conversions for callers that hold UTF-8 text.
VYRCOM_API BSTR BstrFromUtf8(std::string_view text);
VYRCOM_API std::string Utf8FromBstr(BSTR text);
VYRCOM_API std::u16string Utf16FromUtf8(std::string_view text);
VYRCOM_API std::string Utf8FromUtf16(std::u16string_view text);

// Task memory: malloc and free, named for what crosses the boundary.
VYRCOM_API void* CoTaskMemAlloc(size_t size);
VYRCOM_API void CoTaskMemFree(void* block);

// --- automation values ---------------------------------------------------------------
enum VarEnum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,  // in type descriptions: nothing is returned besides the HRESULT
  VT_BYREF = 0x4000,
};

struct IUnknown;
struct IDispatch;

struct VARIANT {
  VARTYPE vt;
  WORD reserved1;
  WORD reserved2;
  WORD reserved3;
  union {
    int16_t iVal;
    int32_t lVal;
    uint32_t ulVal;
    int64_t llVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    int16_t* piVal;
    int32_t* plVal;
    uint32_t* pulVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    VARIANT* pvarVal;
  };
};
using VARIANTARG = VARIANT;

VYRCOM_API void VariantInit(VARIANT* v);
VYRCOM_API HRESULT VariantClear(VARIANT* v);
VYRCOM_API HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Converts src (by-reference values are followed) to type vt. Text converts to numbers
// as decimal with an optional sign, or hexadecimal after "0x" or "&H"; booleans from
// "True"/"False" or a number. Out of range: DISP_E_OVERFLOW; not convertible:
// DISP_E_TYPEMISMATCH. dest may equal src.
VYRCOM_API HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD flags, VARTYPE vt);

// dispatch call kinds and the named argument of a property put
constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;
constexpr WORD DISPATCH_PROPERTYPUT = 4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// Arguments stand in reverse order: rgvarg[cArgs - 1] is the first argument.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;
};

// A counted array of identifiers whose elements come from CoTaskMemAlloc.
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

// --- geometry and messages -----------------------------------------------------------
struct POINT {
  LONG x;
  LONG y;
};
struct SIZE {
  LONG cx;
  LONG cy;
};
// right and bottom lie outside the rectangle.
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

constexpr bool PtInRect(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

// The mouse messages a host forwards to a windowless control.
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
// Key-state bits of wParam.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

// lParam of a mouse message: client x in the low 16 bits, y in the high 16 bits.
constexpr LPARAM MakeMouseLParam(int x, int y) {
  return static_cast<LPARAM>(static_cast<int32_t>((static_cast<uint32_t>(y) & 0xFFFFu) << 16 |
                                                  (static_cast<uint32_t>(x) & 0xFFFFu)));
}
// Signed, so points left of or above the client area come back negative.
constexpr int MouseX(LPARAM lParam) { return static_cast<int16_t>(static_cast<uint32_t>(lParam) & 0xFFFFu); }
constexpr int MouseY(LPARAM lParam) {
  return static_cast<int16_t>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFFu);
}

// Extents are kept in HIMETRIC (0.01 mm); screen pixels are taken at 96 per inch.
constexpr LONG HimetricFromPixels(LONG pixels) { return static_cast<LONG>((static_cast<int64_t>(pixels) * 2540 + 48) / 96); }
constexpr LONG PixelsFromHimetric(LONG himetric) { return static_cast<LONG>((static_cast<int64_t>(himetric) * 96 + 1270) / 2540); }

}  // namespace vyr::com
