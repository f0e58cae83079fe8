#include "component/instance.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "component/com_ptr.h"
#include "component/registry.h"

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
  // RTLD_LOCAL: the server's own copy of this runtime stays its own.
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

HRESULT RegisterServer(const std::string& path) { return CallEntry(path, "DllRegisterServer"); }
HRESULT UnregisterServer(const std::string& path) { return CallEntry(path, "DllUnregisterServer"); }

}  // namespace vyr::com
