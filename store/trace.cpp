#include "store/trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace weavil {
namespace {

std::mutex& TraceMutex() {
  static std::mutex mutex;
  return mutex;
}

FILE* g_traceFile = nullptr;

// "w+" without following a link planted under the name, and without emptying a file that
// has other names: the trace may only ever empty a file of its own.
FILE* OpenTraceFile() {
  int fd = ::open("RovanTrace.txt", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) return nullptr;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = ::fdopen(fd, "w+");
  if (!file) ::close(fd);
  return file;
}

}  // namespace

void WriteTrace(std::string_view text) {
  std::lock_guard<std::mutex> lock(TraceMutex());
  if (!g_traceFile) {
    g_traceFile = OpenTraceFile();
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
