#pragma once
// Percent-decoding of URL parts (search phrases, query strings, paths shown to the user).
#include <string>
#include <string_view>

namespace weavil {

// Every "%" followed by two hexadecimal digits (either case) becomes the byte they
// denote, anywhere in the text, also after "?" or "#". Everything else is kept as it
// stands: "+" stays "+", and a "%" without two hex digits after it stays "%". "%00"
// gives a zero byte inside the result.
std::string UrlUnescape(std::string_view text);

// The same, rewriting text in place (the result is never longer than the input).
void UrlUnescapeInPlace(std::string& text);

}  // namespace weavil
