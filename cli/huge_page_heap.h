#pragma once
// The heap in transparent huge pages. A large report or import touches a hundred
// megabytes or more of fresh memory, and on a virtual machine every 4 KB page fault
// traps to the hypervisor (some 10 us each): a fifth of a report's time. Where the
// kernel gives huge pages on request ("madvise", Debian's default), the allocator is
// set to take its memory from one heap grown in large steps, and that heap is marked
// for huge pages: one fault per 2 MB.
#include <string_view>

namespace weavil {

// Whether the kernel's transparent huge page mode (the text of
// /sys/kernel/mm/transparent_hugepage/enabled, "always [madvise] never") gives huge
// pages only where they are asked for.
bool HugePagesOnRequest(std::string_view thpMode);

// Call before work that builds large report trees (the report, export and chart
// commands, the window): the import keeps the ordinary pages, as they let it give back
// the memory of stored sessions page by page. Once per process; nothing under a
// sanitizer's allocator, with WEAVIL_SMALL_PAGES set, or where the kernel does not give
// huge pages on request. True when the heap is marked.
bool UseHugePageHeap();

// Gives the free pages of the marked heap back to the system (the heap keeps what it
// freed otherwise, up to its step): for the window, after its views are refreshed.
// Nothing when the heap was not marked.
void ReturnFreeHeap();

}  // namespace weavil
