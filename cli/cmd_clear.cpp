#include <iostream>

#include "cli/cli.h"
#include "store/clear_database.h"

namespace weavil {

namespace {

void PrintClearUsage(std::ostream& out) {
  out << "Usage: weavil [--db FILE] clear --yes\n"
         "\n"
         "Removes all sessions, page requests and their classifications from the\n"
         "database. Host names, countries, robot flags and comments of the visitors\n"
         "are kept.\n";
}

constexpr CliOption kClearOptions[] = {
    {.name = "--yes", .help = "confirm the removal; without it nothing is removed", .shortName = "-y"},
};

}  // namespace

int RunClearCommand(CliContext& context, const CliArgs& args) {
  std::vector<std::string> words = args.Arguments();
  if (!words.empty()) return CliUsage(context, "unknown argument " + words[0], "clear");
  if (!args.Has("--yes")) return CliUsage(context, "clear removes all sessions; confirm with --yes", "clear");
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

const CliCommand kClearCommand = {.name = "clear", .summary = "remove all sessions from the database",
                                  .helpBefore = PrintClearUsage, .options = kClearOptions, .run = RunClearCommand};

}  // namespace weavil
