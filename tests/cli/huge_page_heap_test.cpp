#include "cli/huge_page_heap.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace weavil {
namespace {

// The mapping of /proc/self/smaps that holds address, as its lines.
std::string MappingOf(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line, mapping;
  bool inside = false;
  const auto at = reinterpret_cast<uintptr_t>(address);
  while (std::getline(smaps, line)) {
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      if (inside) break;
      inside = from <= at && at < to;
    }
    if (inside) mapping += line + "\n";
  }
  return mapping;
}

// After the call, a block of a few megabytes lies in memory marked for huge pages.
TEST(HugePageHeapTest, LargeBlocksComeFromTheMarkedHeap) {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text((std::istreambuf_iterator<char>(mode)), std::istreambuf_iterator<char>());
  if (!HugePagesOnRequest(text)) GTEST_SKIP() << "the kernel does not give huge pages on request";
  if (!UseHugePageHeap()) GTEST_SKIP() << "not marked (a sanitizer's allocator, or WEAVIL_SMALL_PAGES)";
  void* block = std::malloc(size_t{8} << 20);
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, size_t{8} << 20);
  // Its last pages: the heap is marked from the first whole huge page of the step on.
  std::string mapping = MappingOf(static_cast<char*>(block) + (size_t{8} << 20) - 1);
  std::free(block);
  EXPECT_NE(mapping.find(" hg"), std::string::npos) << mapping;  // VmFlags: hg, huge pages asked for
}

// Marked for an import, the heap is the first thread's alone: a block another thread
// takes comes from an arena of its own, not from the marked heap, and that arena is
// marked once the thread asks. Run in a process of its own, since the first call
// decides for the process.
TEST(HugePageHeapTest, AnImportsThreadsKeepArenasOfTheirOwn) {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text((std::istreambuf_iterator<char>(mode)), std::istreambuf_iterator<char>());
  if (!HugePagesOnRequest(text)) GTEST_SKIP() << "the kernel does not give huge pages on request";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's allocator is not marked";
#endif
  if (std::getenv("WEAVIL_SMALL_PAGES")) GTEST_SKIP() << "WEAVIL_SMALL_PAGES is set";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (!UseHugePageHeap(HugePageArenas::kPerThread)) std::_Exit(3);
        constexpr size_t kSize = size_t{8} << 20;
        char* own = static_cast<char*>(std::malloc(kSize));
        std::memset(own, 1, kSize);
        const bool ownMarked = MappingOf(own + kSize - 1).find(" hg") != std::string::npos;
        std::string other;
        bool otherMarked = false;
        std::thread([&other, &otherMarked] {
          otherMarked = MarkThreadHeap();
          void* block = std::malloc(size_t{1} << 20);
          std::memset(block, 1, size_t{1} << 20);
          other = MappingOf(block);
          std::free(block);
        }).join();
        std::free(own);
        const bool otherInHeap = other.find("[heap]") != std::string::npos;
        const bool otherHuge = other.find(" hg") != std::string::npos;
        std::_Exit(!ownMarked ? 1 : otherInHeap ? 2 : !otherMarked || !otherHuge ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

// The process's resident memory in bytes.
size_t Resident() {
  std::ifstream statm("/proc/self/statm");
  size_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// Freed blocks of the marked heap stay in memory until they are given back.
TEST(HugePageHeapTest, FreePagesGoBackWhenAsked) {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text((std::istreambuf_iterator<char>(mode)), std::istreambuf_iterator<char>());
  if (!HugePagesOnRequest(text) || !UseHugePageHeap()) GTEST_SKIP() << "the heap is not marked here";
  constexpr size_t kSize = size_t{24} << 20;  // below the size mapped on its own
  char* block = static_cast<char*>(std::malloc(kSize));
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, kSize);
  volatile char written = block[kSize / 2];  // the pages are written, not left out
  EXPECT_EQ(written, 1);
  void* after = std::malloc(size_t{1} << 20);  // after the block: it stays inside the heap
  std::free(block);
  const size_t before = Resident();
  ReturnFreeHeap();
  EXPECT_GT(before, Resident() + (size_t{16} << 20));
  std::free(after);
}

}  // namespace
}  // namespace weavil
