#pragma once
// Result codes of the chart library and the one exception type that carries them.
// The values equal the component runtime's codes of the same names; the controls
// return them unchanged from their interface methods.
#include <cstdint>
#include <exception>
#include <new>

namespace plotwell {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
// A chart data document the library rejects (not well-formed, wrong root, missing time).
constexpr HRESULT E_CHARTDATA = static_cast<HRESULT>(0x90000001u);

constexpr bool Failed(HRESULT hr) { return hr < 0; }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }

// Failures travel inside the library as this exception; every entry point the
// controls expose catches it and returns the code.
class CSimplEx : public std::exception {
 public:
  explicit CSimplEx(HRESULT hr) noexcept : hr_(hr) {}
  HRESULT Result() const noexcept { return hr_; }
  const char* what() const noexcept override { return "plotwell chart failure"; }

 private:
  HRESULT hr_;
};

// Runs fn and turns whatever it throws into a result code: the carried code of a
// CSimplEx, E_OUTOFMEMORY for an allocation failure, E_FAIL for anything else.
template <typename Fn>
HRESULT CatchChartFailure(Fn&& fn) noexcept {
  try {
    fn();
    return S_OK;
  } catch (const CSimplEx& ex) {
    return ex.Result();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace plotwell
