#include <iostream>

#include "cli/cli.h"
#include "store/clear_database.h"

namespace weavil {

void PrintClearHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] clear --yes\n"
         "\n"
         "Removes all sessions, page requests and their classifications from the\n"
         "database. Host names, countries, robot flags and comments of the visitors\n"
         "are kept. --yes confirms; without it nothing is removed.\n";
}

int RunClearCommand(CliContext& context, const std::vector<std::string>& args) {
  bool yes = false;
  for (const std::string& arg : args) {
    if (arg == "--yes" || arg == "-y") yes = true;
    else return CliUsage(context, "unknown argument " + arg, "clear");
  }
  if (!yes) return CliUsage(context, "clear removes all sessions; confirm with --yes", "clear");
  std::string errorText;
  ClearPrompts prompts;
  prompts.confirm = [](std::string_view, std::string_view) { return true; };
  prompts.showError = [&](std::string_view, std::string_view text) { errorText = text; };
  std::string reason;
  switch (ClearDatabase(prompts, &reason)) {
    case ClearOutcome::kCleared:
      *context.out << "All sessions removed.\n";
      return kExitOk;
    case ClearOutcome::kNoDatabase:
      return CliFail(context, "cannot open " + reason);
    case ClearOutcome::kFailed:
      return CliFail(context, errorText + ": " + reason);
    case ClearOutcome::kCancelled:
      break;
  }
  return kExitFailure;
}

}  // namespace weavil
