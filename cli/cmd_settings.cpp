#include <iostream>

#include "cli/cli.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace weavil {

namespace {

void PrintSettingsUsage(std::ostream& out) {
  out << "Usage: weavil settings [NAME [VALUE]]\n"
         "\n"
         "Without arguments, prints every setting as NAME=VALUE.\n"
         "With NAME, prints that setting's value.\n"
         "With NAME and VALUE, sets the value and saves the settings.\n"
         "The ports ProxyPortHTTP, ProxyPortFTP and ProxyPort take 1 to 65535 (0: none);\n"
         "BusySeconds is how long a database write waits for another writer (default 30).\n"
         "FollowSeconds is the pause between the rounds of `weavil import --follow`\n"
         "(1 to 3600, default 5).\n"
         "IsResumingImports 1 (the default) lets an import of a log file imported before,\n"
         "unchanged since, read on from where the last import ended; 0 reads it again.\n"
         "Settings file: " << DefaultSettingsFile() << '\n';
}

}  // namespace

int RunSettingsCommand(CliContext& context, const CliArgs& words) {
  // A VALUE may start with '-' ("-1"): every word is an argument.
  const std::vector<std::string> args = words.Arguments();
  if (args.size() > 2) return CliUsage(context, "settings takes at most NAME and VALUE", "settings");
  if (args.empty()) {
    Settings settings = CopySettings();
    for (const char* name : kSettingNamesCreateOrder) {
      std::string value;
      GetSettingByName(settings, name, value);
      *context.out << name << '=' << value << '\n';
    }
    return kExitOk;
  }
  if (args.size() == 1) {
    std::string value;
    if (!GetSettingByName(CopySettings(), args[0], value))
      return CliUsage(context, "unknown setting " + args[0], "settings");
    *context.out << value << '\n';
    return kExitOk;
  }
  std::lock_guard<std::mutex> lock(SettingsMutex());
  std::string ignored;
  if (!GetSettingByName(AppSettings(), args[0], ignored))
    return CliUsage(context, "unknown setting " + args[0], "settings");
  if (args[1].size() > kMaxSettingText)
    return CliFail(context, "value for " + args[0] + " is longer than " + std::to_string(kMaxSettingText) +
                                " characters");
  std::string problem = SettingValueProblem(args[0], args[1]);
  if (!problem.empty() || !SetSettingByName(AppSettings(), args[0], args[1])) return CliFail(context, problem);
  context.saveSettings = true;
  return kExitOk;
}

const CliCommand kSettingsCommand = {.name = "settings", .summary = "show or change the settings",
                                     .helpBefore = PrintSettingsUsage, .run = RunSettingsCommand,
                                     .arguments = CliArguments::kAnyWord};

}  // namespace weavil
