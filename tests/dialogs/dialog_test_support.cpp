#include "tests/dialogs/dialog_test_support.h"

#include <cstdio>

namespace weavil::test {

std::string W3cLog(int first, int count) {
  std::string text =
      "#Software: Microsoft Internet Information Services 5.0\n#Version: 1.0\n#Date: 2004-02-10 00:00:00\n"
      "#Fields: date time c-ip cs-method cs-uri-stem sc-status cs(User-Agent)\n";
  for (int i = first; i < first + count; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "2004-02-10 %02d:%02d:00 10.1.%d.%d GET /page%d.html 200 Agent/%d\r\n", i / 60,
                  i % 60, i / 200, i % 200, i, i);
    text += line;
  }
  return text;
}

}  // namespace weavil::test

// fontconfig keeps its configuration until exit; LeakSanitizer should not report it.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// Qt's own pooled drawing threads share memory through atomics the uninstrumented Qt
// libraries do not show to ThreadSanitizer.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:libQt6Gui.so\nrace:libQt6Core.so\n";
}
