#pragma once
#include <string>
#include <string_view>

namespace weavil {

// Appends text and one line break to "RovanTrace.txt" in the current directory and
// flushes at once. The file is created (or emptied) at the first write of the run and
// stays open; a failed open makes that write do nothing and the next one tries again.
// Safe from any thread: one lock covers open, write and flush, so lines stay whole.
void WriteTrace(std::string_view text);

// Closes the trace file so the next write starts a new one (tests, and program exit).
void CloseTrace();

}  // namespace weavil
