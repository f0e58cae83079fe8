#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text_case.h"
#include "vyrcom/com_interfaces.h"

namespace vyr::com {

void VariantInit(VARIANT* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_POINTER;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
      if (v->punkVal) v->punkVal->Release();
      break;
    case VT_DISPATCH:
      if (v->pdispVal) v->pdispVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_POINTER;
  if (dest == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (!copy.bstrVal) return E_OUTOFMEMORY;
  } else if (src->vt == VT_UNKNOWN && src->punkVal) {
    src->punkVal->AddRef();
  } else if (src->vt == VT_DISPATCH && src->pdispVal) {
    src->pdispVal->AddRef();
  }
  VariantClear(dest);
  *dest = copy;
  return S_OK;
}

namespace {

// A source value reduced to one of three shapes.
struct Scalar {
  enum Kind { kInteger, kReal, kText } kind = kInteger;
  int64_t integer = 0;
  bool fromHex = false;  // hexadecimal text: a bit pattern, may fill an unsigned 32-bit value
  bool isBool = false;
  double real = 0;
  std::string text;
};

HRESULT ReadScalar(const VARIANT* src, Scalar* s) {
  VARTYPE vt = src->vt;
  bool byRef = (vt & VT_BYREF) != 0;
  vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
  if (byRef && !src->plVal) return E_POINTER;
  switch (vt) {
    case VT_EMPTY:
      s->kind = Scalar::kInteger;
      return S_OK;
    case VT_I2:
      s->integer = byRef ? *src->piVal : src->iVal;
      return S_OK;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      s->integer = byRef ? *src->plVal : src->lVal;
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      s->integer = byRef ? *src->pulVal : src->ulVal;
      return S_OK;
    case VT_I8:
      s->integer = byRef ? *reinterpret_cast<const int64_t*>(src->plVal) : src->llVal;
      return S_OK;
    case VT_BOOL:
      s->integer = (byRef ? *src->pboolVal : src->boolVal) ? -1 : 0;
      s->isBool = true;
      return S_OK;
    case VT_R8:
      s->kind = Scalar::kReal;
      s->real = byRef ? *reinterpret_cast<const double*>(src->plVal) : src->dblVal;
      return S_OK;
    case VT_BSTR: {
      BSTR b = byRef ? *src->pbstrVal : src->bstrVal;
      s->kind = Scalar::kText;
      s->text = Utf8FromBstr(b);
      return S_OK;
    }
    case VT_VARIANT:
      if (byRef) return ReadScalar(src->pvarVal, s);
      return DISP_E_BADVARTYPE;
    case VT_NULL:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return DISP_E_TYPEMISMATCH;
    default:
      return DISP_E_BADVARTYPE;
  }
}

// Text to a number: decimal integers, hexadecimal after 0x or &H, reals, True/False.
HRESULT ParseText(Scalar* s) {
  std::string t = s->text;
  size_t b = t.find_first_not_of(" \t");
  size_t e = t.find_last_not_of(" \t");
  t = b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
  if (t.empty()) return DISP_E_TYPEMISMATCH;
  if (EqualsNoCase(t, "true") || EqualsNoCase(t, "false")) {
    s->kind = Scalar::kInteger;
    s->integer = EqualsNoCase(t, "true") ? -1 : 0;
    s->isBool = true;
    return S_OK;
  }
  const char* p = t.c_str();
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if ((p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) || (p[0] == '&' && (p[1] == 'h' || p[1] == 'H'))) {
    p += 2;
    if (!*p) return DISP_E_TYPEMISMATCH;
    uint64_t v = 0;
    for (; *p; ++p) {
      int d = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0'
              : std::isxdigit(static_cast<unsigned char>(*p)) ? LowerAscii(*p) - 'a' + 10
                                                              : -1;
      if (d < 0) return DISP_E_TYPEMISMATCH;
      v = v << 4 | static_cast<uint64_t>(d);
      if (v > 0xFFFFFFFFull) return DISP_E_OVERFLOW;
    }
    s->kind = Scalar::kInteger;
    s->integer = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    s->fromHex = !negative;
    return S_OK;
  }
  bool allDigits = *p != 0;
  for (const char* q = p; *q; ++q)
    if (!std::isdigit(static_cast<unsigned char>(*q))) allDigits = false;
  if (allDigits) {
    if (std::strlen(p) > 18) return DISP_E_OVERFLOW;
    int64_t v = std::strtoll(p, nullptr, 10);
    s->kind = Scalar::kInteger;
    s->integer = negative ? -v : v;
    return S_OK;
  }
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(t.c_str(), &end);
  if (end == t.c_str() || *end != 0 || !std::isfinite(d)) return DISP_E_TYPEMISMATCH;
  if (errno == ERANGE) return DISP_E_OVERFLOW;
  s->kind = Scalar::kReal;
  s->real = d;
  return S_OK;
}

HRESULT ToInteger(const Scalar& s, int64_t lo, int64_t hi, bool bits32, int64_t* out) {
  int64_t v;
  if (s.kind == Scalar::kReal) {
    double r = std::nearbyint(s.real);  // to nearest, ties to even
    if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) return DISP_E_OVERFLOW;
    v = static_cast<int64_t>(r);
  } else {
    v = s.integer;
    // A hexadecimal pattern such as 0x80000005 fills a signed 32-bit value bit for bit.
    if (bits32 && s.fromHex && v > hi && v <= 0xFFFFFFFFll) v = static_cast<int32_t>(static_cast<uint32_t>(v));
  }
  if (v < lo || v > hi) return DISP_E_OVERFLOW;
  *out = v;
  return S_OK;
}

std::string FormatReal(double d) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", d);
  return text;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, WORD /*flags*/, VARTYPE vt) {
  if (!dest || !src) return E_POINTER;
  if (src->vt == vt && vt != VT_BSTR) {
    VARIANT copy = *src;
    if (dest != src) {
      VariantClear(dest);
      *dest = copy;
    }
    return S_OK;
  }
  Scalar s;
  HRESULT hr = ReadScalar(src, &s);
  if (FAILED(hr)) return hr;
  if (s.kind == Scalar::kText && vt != VT_BSTR) {
    hr = ParseText(&s);
    if (FAILED(hr)) return hr;
  }
  VARIANT result;
  VariantInit(&result);
  result.vt = vt;
  int64_t v = 0;
  switch (vt) {
    case VT_EMPTY:
      break;
    case VT_I2:
      hr = ToInteger(s, INT16_MIN, INT16_MAX, false, &v);
      result.iVal = static_cast<int16_t>(v);
      break;
    case VT_I4:
    case VT_INT:
      hr = ToInteger(s, INT32_MIN, INT32_MAX, true, &v);
      result.lVal = static_cast<int32_t>(v);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = ToInteger(s, 0, UINT32_MAX, false, &v);
      result.ulVal = static_cast<uint32_t>(v);
      break;
    case VT_I8:
      hr = ToInteger(s, INT64_MIN, INT64_MAX, false, &v);
      result.llVal = v;
      break;
    case VT_BOOL:
      result.boolVal = (s.kind == Scalar::kReal ? s.real != 0 : s.integer != 0) ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_R8:
      result.dblVal = s.kind == Scalar::kReal ? s.real : static_cast<double>(s.integer);
      break;
    case VT_BSTR: {
      std::string text = s.kind == Scalar::kText   ? s.text
                         : s.kind == Scalar::kReal ? FormatReal(s.real)
                         : s.isBool                ? std::string(s.integer ? "True" : "False")
                                                   : std::to_string(s.integer);
      result.bstrVal = BstrFromUtf8(text);
      if (!result.bstrVal) return E_OUTOFMEMORY;
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  VariantClear(dest);  // src may be dest: its text was already read
  *dest = result;
  return S_OK;
}

}  // namespace vyr::com
