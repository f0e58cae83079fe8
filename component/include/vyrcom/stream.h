#pragma once
// Streams over memory and over files, for persistence.
#include <string>
#include <vector>

#include "vyrcom/com_interfaces.h"

namespace vyr::com {

// A growable stream in memory, positioned at 0. initial is copied in.
VYRCOM_API HRESULT CreateMemoryStream(IStream** stream, const std::vector<uint8_t>& initial = {});
// The bytes of a stream made by CreateMemoryStream; false for any other stream.
VYRCOM_API bool MemoryStreamBytes(IStream* stream, std::vector<uint8_t>* bytes);

enum class FileStreamMode {
  kRead,    // existing file, read only
  kCreate,  // created or emptied, read and write
  kUpdate,  // existing file, read and write
};
// STG_E_FILENOTFOUND or STG_E_ACCESSDENIED when the file cannot be opened.
VYRCOM_API HRESULT CreateFileStream(const std::string& path, FileStreamMode mode, IStream** stream);

// Whole reads and writes: a short transfer is STG_E_READFAULT / STG_E_WRITEFAULT.
VYRCOM_API HRESULT ReadExact(IStream* stream, void* buffer, ULONG size);
VYRCOM_API HRESULT WriteExact(IStream* stream, const void* buffer, ULONG size);

}  // namespace vyr::com
