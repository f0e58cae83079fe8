#include "cli/terminal_text.h"

namespace weavil {
namespace {

void AppendHex(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 15]);
}

// Length of the well-formed UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8Length(std::string_view text, size_t i) {
  auto c = static_cast<unsigned char>(text[i]);
  size_t length = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return 0;
  return length;
}

}  // namespace

std::string TerminalSafe(std::string_view text, TerminalText kind) {
  std::string out;
  out.reserve(text.size());
  AppendTerminalSafe(out, text, kind);
  return out;
}

void AppendTerminalSafe(std::string& out, std::string_view text, TerminalText kind) {
  const bool lines = kind == TerminalText::kLines;
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f) {
      size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) >= 0x20 &&
             static_cast<unsigned char>(text[end]) < 0x7f)
        ++end;
      out.append(text.substr(i, end - i));
      i = end;
    } else if (c == '\n' || c == '\t') {
      if (lines) out.push_back(static_cast<char>(c));
      else out += c == '\n' ? "\\n" : "\\t";
      ++i;
    } else if (c == '\r') {
      if (lines && i + 1 < text.size() && text[i + 1] == '\n') out.push_back('\r');
      else out += "\\r";
      ++i;
    } else if (c < 0x80) {
      AppendHex(out, c);
      ++i;
    } else if (size_t length = Utf8Length(text, i)) {
      // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
      if (length == 2 && c == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) {
        AppendHex(out, static_cast<unsigned char>(text[i + 1]));
      } else {
        out.append(text.substr(i, length));
      }
      i += length;
    } else {
      // A single byte of another code page: only its C1 range acts on a terminal.
      if (c < 0xa0) AppendHex(out, c);
      else out.push_back(static_cast<char>(c));
      ++i;
    }
  }
}

}  // namespace weavil
