#pragma once
// Resources of a server library: small files (the controls' toolbox bitmaps) carried in
// the library file itself and named by number, as the registry's "PATH, ID" values name
// them. They are read from the file, so a host can show a control's bitmap without
// loading the library.
//
// A server embeds them in an allocated ELF section named kResourceSection holding, in
// little-endian order: the 8 bytes "VYRRSRC1", a 32-bit count, per resource its 32-bit
// id, offset (from the section's start) and size, then the bytes.
#include <string>
#include <vector>

#include "vyrcom/com_types.h"

namespace vyr::com {

inline constexpr const char* kResourceSection = ".vyr_rsrc";

// The bytes of resource id in the library file at path. STG_E_FILENOTFOUND when the file
// does not open, RESOURCE_E_DATANOTFOUND when it is not a library of this machine's kind
// or carries no resources (or a damaged table), RESOURCE_E_NAMENOTFOUND when the id is
// not among them.
VYRCOM_API HRESULT LoadModuleResource(const std::string& path, int id, std::vector<uint8_t>* bytes);

// Splits a "PATH, ID" registry value. False when it has no comma followed by a number.
VYRCOM_API bool ParseResourceReference(const std::string& value, std::string* path, int* id);

// The 16 x 16 bitmap (a BMP file's bytes) that the class's ToolboxBitmap32 entry names.
// REGDB_E_CLASSNOTREG when the class is not registered, REGDB_E_KEYMISSING when it names
// no bitmap, REGDB_E_INVALIDVALUE when the entry does not read as "PATH, ID".
VYRCOM_API HRESULT LoadToolboxBitmap(const CLSID& clsid, std::vector<uint8_t>* bytes);

}  // namespace vyr::com
