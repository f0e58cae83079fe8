#include "vyrcom/instance.h"

#include <dlfcn.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "vyrcom/com_ptr.h"
#include "vyrcom/registry.h"

namespace vyr::com {

namespace {

std::mutex& LibraryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Loaded server libraries by path. They stay loaded for the life of the process, as
// the objects they create may be held anywhere.
std::map<std::string, void*>& Libraries() {
  static auto* libraries = new std::map<std::string, void*>;
  return *libraries;
}

HRESULT CallEntry(const std::string& path, const char* name) {
  std::string error;
  void* library = LoadServerLibrary(path, &error);
  if (!library) return CO_E_DLLNOTFOUND;
  auto entry = reinterpret_cast<DllRegisterServerFn>(::dlsym(library, name));
  if (!entry) return CO_E_ERRORINDLL;
  return entry();
}

}  // namespace

void* LoadServerLibrary(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(LibraryMutex());
  auto found = Libraries().find(path);
  if (found != Libraries().end()) return found->second;
  // RTLD_LOCAL: a server's own symbols stay out of the container's way; the runtime
  // itself is one shared library for both.
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* message = ::dlerror();
    if (error) *error = message ? message : "cannot load " + path;
    return nullptr;
  }
  Libraries()[path] = library;
  return library;
}

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = GUID_NULL;
  if (progId.empty()) return CO_E_CLASSSTRING;
  RegistryData data;
  if (FAILED(LoadRegistry(&data))) return REGDB_E_READREGDB;
  std::string key(progId);
  std::string text;
  // A version-independent ProgID names its current version; follow that (a few steps at most).
  for (int step = 0; step < 4; ++step) {
    if (data.GetValue(key + "\\CLSID", "", &text)) return ParseGuid(text, clsid) ? S_OK : CO_E_CLASSSTRING;
    if (!data.GetValue(key + "\\CurVer", "", &text) || text.empty()) break;
    key = text;
  }
  return CO_E_CLASSSTRING;
}

HRESULT CLSIDFromString(std::string_view text, CLSID* clsid) {
  if (!clsid) return E_POINTER;
  if (!text.empty() && text.front() == '{') return ParseGuid(text, clsid) ? S_OK : CO_E_CLASSSTRING;
  return CLSIDFromProgID(text, clsid);
}

HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  std::string path;
  if (!ReadRegistryValue("CLSID\\" + FormatGuid(clsid) + "\\InprocServer32", "", &path) || path.empty())
    return REGDB_E_CLASSNOTREG;
  std::string error;
  void* library = LoadServerLibrary(path, &error);
  if (!library) return CO_E_DLLNOTFOUND;
  auto entry = reinterpret_cast<DllGetClassObjectFn>(::dlsym(library, "DllGetClassObject"));
  if (!entry) return CO_E_ERRORINDLL;
  return entry(&clsid, &iid, object);
}

HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = GetClassObject(clsid, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(nullptr, iid, object);
}

HRESULT CreateInstance(std::string_view clsidOrProgId, const IID& iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  CLSID clsid;
  HRESULT hr = CLSIDFromString(clsidOrProgId, &clsid);
  if (FAILED(hr)) return hr == CO_E_CLASSSTRING && !clsidOrProgId.empty() && clsidOrProgId.front() != '{'
                            ? REGDB_E_CLASSNOTREG
                            : hr;
  return CreateInstance(clsid, iid, object);
}

std::string RuntimeFolder() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&RuntimeFolder), &info) == 0 || !info.dli_fname) return {};
  char* resolved = ::realpath(info.dli_fname, nullptr);
  std::string path = resolved ? resolved : info.dli_fname;
  std::free(resolved);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

HRESULT RegisterServer(const std::string& path) { return CallEntry(path, "DllRegisterServer"); }
HRESULT UnregisterServer(const std::string& path) { return CallEntry(path, "DllUnregisterServer"); }

}  // namespace vyr::com
