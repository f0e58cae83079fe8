#include "cli/huge_page_heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace weavil {

namespace {

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

constexpr size_t kHugePage = size_t{2} << 20;
// The heap grows by this much beyond each request: room that costs nothing until it
// is touched, marked for huge pages once here.
constexpr int kHeapStep = 512 << 20;
// Blocks up to this size come from the heap (glibc's largest threshold); larger ones
// are mapped on their own.
constexpr int kMapThreshold = 32 << 20;

std::atomic<bool> heapMarked{false};

std::string ThpMode() {
  std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MarkHeap(HugePageArenas arenas) {
  if (kOwnAllocator || std::getenv("WEAVIL_SMALL_PAGES") || !HugePagesOnRequest(ThpMode())) return false;
  // Blocks below the threshold from the heap.
  if (arenas == HugePageArenas::kOne && !::mallopt(M_ARENA_MAX, 1)) return false;
  if (!::mallopt(M_MMAP_THRESHOLD, kMapThreshold) || !::mallopt(M_TOP_PAD, kHeapStep)) return false;
  // A block larger than what is left at the heap's top grows it by the step; the
  // whole huge pages from there to the new top are marked. Growth beyond that step
  // (a heap of more than half a gigabyte) keeps ordinary pages.
  void* block = std::malloc(size_t{1} << 20);
  if (!block) return false;
  const auto top = reinterpret_cast<uintptr_t>(::sbrk(0));
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  bool marked = top > start && ::madvise(reinterpret_cast<void*>(start), top - start, MADV_HUGEPAGE) == 0;
  std::free(block);
  heapMarked = marked;
  return marked;
}

}  // namespace

bool HugePagesOnRequest(std::string_view thpMode) { return thpMode.find("[madvise]") != std::string_view::npos; }

bool UseHugePageHeap(HugePageArenas arenas) {
  static const bool marked = MarkHeap(arenas);
  return marked;
}

bool MarkThreadHeap() {
  if (!heapMarked) return false;
  // The mapping that holds a block just taken on this thread: an anonymous one of its
  // own (the first heap of its arena), not the process's heap.
  void* probe = std::malloc(1024);
  if (!probe) return false;
  const auto at = reinterpret_cast<uintptr_t>(probe);
  std::free(probe);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::string permissions, offset, device, inode, path;
    if (!(fields >> std::hex >> from >> dash >> to) || dash != '-' || at < from || at >= to) continue;
    fields >> permissions >> offset >> device >> inode >> path;
    if (permissions.rfind("rw", 0) != 0 || inode != "0" || !path.empty()) return false;
    const uintptr_t start = (from + kHugePage - 1) & ~(kHugePage - 1);
    return to > start && ::madvise(reinterpret_cast<void*>(start), to - start, MADV_HUGEPAGE) == 0;
  }
  return false;
}

void ReturnFreeHeap() {
  if (heapMarked) ::malloc_trim(0);
}

}  // namespace weavil
