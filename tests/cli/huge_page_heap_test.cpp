#include "cli/huge_page_heap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace weavil {
namespace {

TEST(HugePageHeapTest, AsksForHugePagesOnlyWhereTheKernelWaitsToBeAsked) {
  EXPECT_EQ(TunablesWithHugePages(nullptr, "always [madvise] never\n"), "glibc.malloc.hugetlb=1");
  EXPECT_EQ(TunablesWithHugePages("", "always [madvise] never\n"), "glibc.malloc.hugetlb=1");
  // Other tunables stay, in their order.
  EXPECT_EQ(TunablesWithHugePages("glibc.malloc.arena_max=2", "always [madvise] never"),
            "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1");
  // Already decided by the user, either way: no restart.
  EXPECT_EQ(TunablesWithHugePages("glibc.malloc.hugetlb=0", "always [madvise] never"), std::nullopt);
  EXPECT_EQ(TunablesWithHugePages("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1", "always [madvise] never"),
            std::nullopt);
  // Huge pages without asking, none at all, or no such file: no restart.
  EXPECT_EQ(TunablesWithHugePages(nullptr, "[always] madvise never"), std::nullopt);
  EXPECT_EQ(TunablesWithHugePages(nullptr, "always madvise [never]"), std::nullopt);
  EXPECT_EQ(TunablesWithHugePages(nullptr, ""), std::nullopt);
}

// After the restart the program's children see the environment it was started with.
TEST(HugePageHeapTest, TheSecondStartPutsTheTunablesBackAsTheyWere) {
  char* argv[] = {nullptr};
  ::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
  ::setenv("WEAVIL_TUNABLES_BEFORE", "-", 1);
  UseHugePageHeap(argv);
  EXPECT_EQ(std::getenv("GLIBC_TUNABLES"), nullptr);
  EXPECT_EQ(std::getenv("WEAVIL_TUNABLES_BEFORE"), nullptr);

  ::setenv("GLIBC_TUNABLES", "glibc.malloc.arena_max=2:glibc.malloc.hugetlb=1", 1);
  ::setenv("WEAVIL_TUNABLES_BEFORE", "glibc.malloc.arena_max=2", 1);
  UseHugePageHeap(argv);
  ASSERT_NE(std::getenv("GLIBC_TUNABLES"), nullptr);
  EXPECT_STREQ(std::getenv("GLIBC_TUNABLES"), "glibc.malloc.arena_max=2");
  EXPECT_EQ(std::getenv("WEAVIL_TUNABLES_BEFORE"), nullptr);
  ::unsetenv("GLIBC_TUNABLES");
}

}  // namespace
}  // namespace weavil
