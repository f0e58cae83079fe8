#include "store/trace.h"

#include <cstdio>
#include <mutex>

namespace weavil {
namespace {

std::mutex& TraceMutex() {
  static std::mutex mutex;
  return mutex;
}

FILE* g_traceFile = nullptr;

}  // namespace

void WriteTrace(std::string_view text) {
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (!g_traceFile) {
    g_traceFile = std::fopen("RovanTrace.txt", "w+");
    if (!g_traceFile) return;
  }
  std::fwrite(text.data(), 1, text.size(), g_traceFile);
  std::fputc('\n', g_traceFile);
  std::fflush(g_traceFile);
}

void CloseTrace() {
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (g_traceFile) {
    std::fclose(g_traceFile);
    g_traceFile = nullptr;
  }
}

}  // namespace weavil
