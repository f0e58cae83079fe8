#pragma once
// Text from strangers (log fields, whois answers) printed on a terminal: control
// characters are written as visible escapes, so a log line cannot set the window title,
// clear the screen or overwrite what was printed before it.
#include <string>
#include <string_view>

namespace weavil {

enum class TerminalText {
  kField,  // one value on one line: every control character is escaped
  kLines,  // running text: line breaks and tabs stay, a CR only before a line break
};

// "\r" for a bare carriage return, "\t" and "\n" where they do not belong, "\xHH" for
// the other C0 controls, DEL and the C1 controls (U+0080 to U+009F written in UTF-8, or
// as single bytes that are no part of a UTF-8 sequence). Everything else is unchanged.
std::string TerminalSafe(std::string_view text, TerminalText kind = TerminalText::kField);
// The same appended to out.
void AppendTerminalSafe(std::string& out, std::string_view text, TerminalText kind = TerminalText::kField);

}  // namespace weavil
