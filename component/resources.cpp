#include "vyrcom/resources.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>

#include "vyrcom/registry.h"

namespace vyr::com {

namespace {

constexpr char kMagic[8] = {'V', 'Y', 'R', 'R', 'S', 'R', 'C', '1'};
// Far above two bitmaps; a larger section is a damaged or foreign file.
constexpr uint64_t kMaxSection = 16u << 20;

using Ehdr = ElfW(Ehdr);
using Shdr = ElfW(Shdr);

bool ReadAt(std::ifstream& in, uint64_t offset, void* buffer, uint64_t size) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return static_cast<uint64_t>(in.gcount()) == size;
}

uint32_t Le32(const std::vector<uint8_t>& data, size_t at) {
  return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
         static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

// The section's bytes; false when the file is not an ELF file of our class or lacks it.
bool ReadResourceSection(std::ifstream& in, std::vector<uint8_t>* section) {
  Ehdr header{};
  if (!ReadAt(in, 0, &header, sizeof header)) return false;
  const unsigned char ourClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ourClass ||
      header.e_shentsize != sizeof(Shdr) || header.e_shnum == 0 || header.e_shstrndx >= header.e_shnum)
    return false;
  std::vector<Shdr> sections(header.e_shnum);
  if (!ReadAt(in, header.e_shoff, sections.data(), sections.size() * sizeof(Shdr))) return false;
  const Shdr& names = sections[header.e_shstrndx];
  if (names.sh_size > kMaxSection) return false;
  std::vector<char> nameTable(names.sh_size + 1, '\0');
  if (!ReadAt(in, names.sh_offset, nameTable.data(), names.sh_size)) return false;
  for (const Shdr& s : sections) {
    if (s.sh_name >= names.sh_size || std::strcmp(&nameTable[s.sh_name], kResourceSection) != 0) continue;
    if (s.sh_type == SHT_NOBITS || s.sh_size > kMaxSection) return false;
    section->resize(s.sh_size);
    return ReadAt(in, s.sh_offset, section->data(), s.sh_size);
  }
  return false;
}

}  // namespace

HRESULT LoadModuleResource(const std::string& path, int id, std::vector<uint8_t>* bytes) {
  if (!bytes) return E_POINTER;
  bytes->clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return STG_E_FILENOTFOUND;
  std::vector<uint8_t> section;
  if (!ReadResourceSection(in, &section) || section.size() < 12 || std::memcmp(section.data(), kMagic, 8) != 0)
    return RESOURCE_E_DATANOTFOUND;
  const uint64_t count = Le32(section, 8);
  if (12 + count * 12 > section.size()) return RESOURCE_E_DATANOTFOUND;
  for (uint64_t i = 0; i < count; ++i) {
    const size_t entry = static_cast<size_t>(12 + i * 12);
    if (Le32(section, entry) != static_cast<uint32_t>(id)) continue;
    const uint64_t offset = Le32(section, entry + 4), size = Le32(section, entry + 8);
    if (offset + size > section.size()) return RESOURCE_E_DATANOTFOUND;
    bytes->assign(section.begin() + static_cast<std::ptrdiff_t>(offset),
                  section.begin() + static_cast<std::ptrdiff_t>(offset + size));
    return S_OK;
  }
  return RESOURCE_E_NAMENOTFOUND;
}

bool ParseResourceReference(const std::string& value, std::string* path, int* id) {
  size_t comma = value.rfind(',');
  if (comma == std::string::npos || comma == 0) return false;
  size_t digits = value.find_first_not_of(' ', comma + 1);
  if (digits == std::string::npos || value.size() - digits > 9 ||
      value.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  *path = value.substr(0, comma);
  *id = std::stoi(value.substr(digits));
  return true;
}

HRESULT LoadToolboxBitmap(const CLSID& clsid, std::vector<uint8_t>* bytes) {
  if (!bytes) return E_POINTER;
  bytes->clear();
  RegistryData data;
  if (FAILED(LoadRegistry(&data))) return REGDB_E_READREGDB;
  const std::string key = "CLSID\\" + FormatGuid(clsid);
  if (!data.KeyExists(key)) return REGDB_E_CLASSNOTREG;
  std::string value, path;
  int id = 0;
  if (!data.GetValue(key + "\\ToolboxBitmap32", "", &value)) return REGDB_E_KEYMISSING;
  if (!ParseResourceReference(value, &path, &id)) return REGDB_E_INVALIDVALUE;
  return LoadModuleResource(path, id, bytes);
}

}  // namespace vyr::com
