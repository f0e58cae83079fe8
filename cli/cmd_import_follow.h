#pragma once
// `weavil import --follow FILE`: the rounds of a followed log until Ctrl+C or SIGTERM.
#include <cstdint>
#include <string>

namespace weavil {

struct CliContext;
struct ImportOptions;

// Follows path from offset (options.continueStored: those lines continue the stored
// data). Prints a line per round that read lines and a summary at the end; exits 0 after
// a signal once everything read is stored, 1 when the file cannot be opened or the
// database refuses a round.
int RunImportFollow(CliContext& context, const std::string& path, int64_t offset, const ImportOptions& options);

}  // namespace weavil
