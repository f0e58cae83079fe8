#pragma once
// Creating objects of registered server libraries.
#include <string>
#include <string_view>

#include "component/com_interfaces.h"

namespace vyr::com {

// "{...}" text or a ProgID (a version-independent ProgID follows its CurVer) to the class
// identifier. CO_E_CLASSSTRING when neither is known.
HRESULT CLSIDFromString(std::string_view text, CLSID* clsid);
HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid);

// The class factory from the library registered as CLSID\{clsid}\InprocServer32. The
// library is loaded once per process and stays loaded.
HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object);

// A new object of the class; REGDB_E_CLASSNOTREG when the class is not registered,
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when its library does not load or lacks the entry.
HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object);
HRESULT CreateInstance(std::string_view clsidOrProgId, const IID& iid, void** object);

// Loads the server library at path (once) and calls its DllRegisterServer or
// DllUnregisterServer.
HRESULT RegisterServer(const std::string& path);
HRESULT UnregisterServer(const std::string& path);

// The loaded library's handle (dlopen), loading it on first use; null with the loader's
// message in *error when it fails.
void* LoadServerLibrary(const std::string& path, std::string* error);

}  // namespace vyr::com
