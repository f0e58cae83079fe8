#include "cli/huge_page_heap.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace weavil {

namespace {

constexpr const char* kTunable = "glibc.malloc.hugetlb";
// Marks the second start and carries the tunables of the first ("-" when unset).
constexpr const char* kRestarted = "WEAVIL_TUNABLES_BEFORE";

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

std::string ThpMode() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::optional<std::string> TunablesWithHugePages(const char* tunables, std::string_view thpMode) {
  // "[always]" gives large mappings huge pages without asking; "[never]" refuses them.
  if (thpMode.find("[madvise]") == std::string_view::npos) return std::nullopt;
  const std::string_view current = tunables ? tunables : "";
  if (current.find(kTunable) != std::string_view::npos) return std::nullopt;
  std::string value(current);
  if (!value.empty()) value += ':';
  value += kTunable;
  value += "=1";
  return value;
}

void UseHugePageHeap(char** argv) {
  if (const char* before = std::getenv(kRestarted)) {
    std::string saved = before;
    if (saved == "-") ::unsetenv("GLIBC_TUNABLES");
    else ::setenv("GLIBC_TUNABLES", saved.c_str(), 1);
    ::unsetenv(kRestarted);
    return;
  }
  if (kOwnAllocator || std::getenv("WEAVIL_SMALL_PAGES")) return;
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  std::optional<std::string> value = TunablesWithHugePages(tunables, ThpMode());
  if (!value) return;
  const std::string before = tunables ? tunables : "-";
  ::setenv(kRestarted, before.c_str(), 1);
  ::setenv("GLIBC_TUNABLES", value->c_str(), 1);
  // The program's own path rather than /proc/self/exe, so that the process keeps its
  // name in ps and top.
  char self[4096];
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    self[length] = '\0';
    ::execv(self, argv);
  }
  // Not restarted (no /proc, say): go on with small pages and the environment as it was.
  if (tunables) ::setenv("GLIBC_TUNABLES", before.c_str(), 1);
  else ::unsetenv("GLIBC_TUNABLES");
  ::unsetenv(kRestarted);
}

}  // namespace weavil
