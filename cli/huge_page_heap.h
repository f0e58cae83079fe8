#pragma once
// The heap in transparent huge pages. A large report or import touches a hundred
// megabytes or more of fresh memory, and on a virtual machine every 4 KB page fault
// traps to the hypervisor (some 10 us each): a fifth of a report's time. glibc's
// allocator asks for huge pages when its tunable glibc.malloc.hugetlb=1 is set, and it
// reads its tunables only when a process starts, so the program starts itself once more
// with that tunable set, then gives its children the environment it was started with.
#include <optional>
#include <string>
#include <string_view>

namespace weavil {

// The GLIBC_TUNABLES value to start again with, given the current one (null when
// unset) and the kernel's transparent huge page mode (the text of
// /sys/kernel/mm/transparent_hugepage/enabled, "always [madvise] never"); nothing when
// a restart would change nothing: huge pages only on request, and not asked already.
std::optional<std::string> TunablesWithHugePages(const char* tunables, std::string_view thpMode);

// Call first in main. Starts the program again with the huge page tunable when it
// helps (never twice, never under a sanitizer's allocator, never with
// WEAVIL_SMALL_PAGES set); after such a start, puts GLIBC_TUNABLES back as it was.
// Returns only when the program goes on in this process.
void UseHugePageHeap(char** argv);

}  // namespace weavil
