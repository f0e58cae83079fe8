#pragma once
// Creating objects of registered server libraries.
#include <string>
#include <string_view>

#include "vyrcom/com_interfaces.h"

namespace vyr::com {

// "{...}" text or a ProgID (a version-independent ProgID follows its CurVer) to the class
// identifier. CO_E_CLASSSTRING when neither is known.
VYRCOM_API HRESULT CLSIDFromString(std::string_view text, CLSID* clsid);
VYRCOM_API HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid);

// The class factory from the library registered as CLSID\{clsid}\InprocServer32. The
// library is loaded once per process and stays loaded.
VYRCOM_API HRESULT GetClassObject(const CLSID& clsid, const IID& iid, void** object);

// A new object of the class; REGDB_E_CLASSNOTREG when the class is not registered,
// CO_E_DLLNOTFOUND / CO_E_ERRORINDLL when its library does not load or lacks the entry.
VYRCOM_API HRESULT CreateInstance(const CLSID& clsid, const IID& iid, void** object);
VYRCOM_API HRESULT CreateInstance(std::string_view clsidOrProgId, const IID& iid, void** object);

// Loads the server library at path (once) and calls its DllRegisterServer or
// DllUnregisterServer.
VYRCOM_API HRESULT RegisterServer(const std::string& path);
VYRCOM_API HRESULT UnregisterServer(const std::string& path);

// The loaded library's handle (dlopen), loading it on first use; null with the loader's
// message in *error when it fails. Libraries stay loaded for the life of the process.
VYRCOM_API void* LoadServerLibrary(const std::string& path, std::string* error);

// The folder this runtime library was loaded from (no trailing slash). Server libraries
// installed with the runtime lie there, so a container can register one by file name.
VYRCOM_API std::string RuntimeFolder();

}  // namespace vyr::com
