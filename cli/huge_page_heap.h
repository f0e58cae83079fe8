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

// How the threads of a process share the marked heap.
enum class HugePageArenas {
  // Every thread allocates from the one marked heap: the report trees a second
  // connection's thread reads land in huge pages too.
  kOne,
  // Other threads keep arenas of their own (ordinary pages): two threads that both
  // allocate all the time (an import's parsing and its store) do not wait on one lock.
  kPerThread,
};

// Call before work that touches a lot of fresh memory: the report, export and chart
// commands and the window (kOne), the import command (kPerThread). Memory a stored
// session frees goes back to the heap and is taken again by the sessions after it, so
// the import's peak stays bounded as in ordinary pages. Once per process: the first
// call decides. Nothing under a sanitizer's allocator, with WEAVIL_SMALL_PAGES set, or
// where the kernel does not give huge pages on request. True when the heap is marked.
bool UseHugePageHeap(HugePageArenas arenas = HugePageArenas::kOne);

// Marks the heap the calling thread takes its memory from for huge pages: under
// kPerThread, the arena of its own it was given at its first allocation (a
// megabyte-sized region, as the marked heap's step sizes it). For a thread that touches
// much fresh memory (an import's store), called first thing on it. Nothing when the heap
// was not marked or the thread takes the marked heap itself. True when marked.
bool MarkThreadHeap();

// Gives the free pages of the marked heap back to the system (the heap keeps what it
// freed otherwise, up to its step): for the window, after its views are refreshed.
// Nothing when the heap was not marked.
void ReturnFreeHeap();

}  // namespace weavil
