#include "classify/url_unescape.h"

namespace weavil {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void UrlUnescapeInPlace(std::string& text) {
  size_t out = 0;
  const size_t size = text.size();
  for (size_t in = 0; in < size;) {
    if (text[in] == '%' && in + 2 < size) {
      int high = HexValue(text[in + 1]);
      int low = HexValue(text[in + 2]);
      if (high >= 0 && low >= 0) {
        text[out++] = static_cast<char>(high * 16 + low);
        in += 3;
        continue;
      }
    }
    text[out++] = text[in++];
  }
  text.resize(out);
}

std::string UrlUnescape(std::string_view text) {
  std::string result(text);
  UrlUnescapeInPlace(result);
  return result;
}

}  // namespace weavil
