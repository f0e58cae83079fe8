#pragma once
// ASCII case folding and comparison without case for the runtime's names: registry keys
// and value names, dispatch names, automation words such as True and False.
#include <cstddef>
#include <string_view>

namespace vyr::com {

template <typename Char>
constexpr Char LowerAscii(Char c) {
  return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c + (Char('a') - Char('A'))) : c;
}

// Negative, zero or positive as a sorts before, with or after b, ignoring ASCII case.
inline int CompareNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = LowerAscii(static_cast<unsigned char>(a[i]));
    unsigned char cb = LowerAscii(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace vyr::com
