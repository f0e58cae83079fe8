#include "vyrcom/com_types.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>

namespace vyr::com {

std::string HResultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
  return text;
}

bool operator<(const GUID& a, const GUID& b) {
  return std::tie(a.Data1, a.Data2, a.Data3) < std::tie(b.Data1, b.Data2, b.Data3) ||
         (std::tie(a.Data1, a.Data2, a.Data3) == std::tie(b.Data1, b.Data2, b.Data3) &&
          std::memcmp(a.Data4, b.Data4, 8) < 0);
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ReadHex(std::string_view text, size_t at, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexValue(text[at + static_cast<size_t>(i)]);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

bool ParseGuid(std::string_view text, GUID* guid) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return false;
  GUID g{};
  uint32_t v = 0;
  if (!ReadHex(text, 1, 8, &g.Data1)) return false;
  if (!ReadHex(text, 10, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(text, 15, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  for (int i = 0; i < 8; ++i) {
    size_t at = i < 2 ? 20 + 2 * static_cast<size_t>(i) : 25 + 2 * static_cast<size_t>(i - 2);
    if (!ReadHex(text, at, 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *guid = g;
  return true;
}

std::string FormatGuid(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

GUID NewGuid() {
  std::random_device device;
  std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device());
  uint64_t high = engine() ^ (static_cast<uint64_t>(device()) << 32);
  uint64_t low = engine() ^ device();
  GUID g{};
  g.Data1 = static_cast<uint32_t>(high >> 32);
  g.Data2 = static_cast<uint16_t>(high >> 16);
  g.Data3 = static_cast<uint16_t>((high & 0x0FFF) | 0x4000);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<uint8_t>(low >> (56 - 8 * i));
  g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

// --- strings -------------------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (0x7FFFFFFFu - 8) / sizeof(OLECHAR)) return nullptr;
  size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(uint32_t));
  if (text) std::memcpy(chars, text, bytes);
  else std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length]) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (text) std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    uint32_t code = 0xFFFD;
    size_t extra = 0;
    if (c < 0x80) code = c;
    else if ((c & 0xE0) == 0xC0) code = c & 0x1F, extra = 1;
    else if ((c & 0xF0) == 0xE0) code = c & 0x0F, extra = 2;
    else if ((c & 0xF8) == 0xF0) code = c & 0x07, extra = 3;
    ++i;
    bool valid = true;
    for (size_t k = 0; k < extra; ++k) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        valid = false;
        break;
      }
      code = code << 6 | (static_cast<unsigned char>(text[i]) & 0x3F);
      ++i;
    }
    // Bytes that are not UTF-8 (older single-byte text) stand for themselves.
    if (!valid || (c >= 0x80 && extra == 0) || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) code = c;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code < 0xE000) {
      code = 0xFFFD;  // a lone surrogate
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

BSTR BstrFromUtf8(std::string_view text) {
  std::u16string wide = Utf16FromUtf8(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string Utf8FromBstr(BSTR text) {
  if (!text) return {};
  return Utf8FromUtf16(std::u16string_view(text, SysStringLen(text)));
}

void* CoTaskMemAlloc(size_t size) { return std::malloc(size ? size : 1); }
void CoTaskMemFree(void* block) { std::free(block); }

}  // namespace vyr::com
