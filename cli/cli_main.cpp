#include "cli/cli.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>

#include "settings/settings.h"
#include "settings/settings_store.h"
#include "store/data_source_registry.h"
#include "store/database.h"
#include "store/pg_backend.h"
#include "store/result.h"

namespace weavil {

namespace {

constexpr CliOption kProgramOptions[] = {
    {.name = "--db",
     .value = "FILE",
     .help = "use this database file instead of the data source \"Log\" (created from the program's template "
             "when missing; report, details and export refuse a file that does not exist), or the PostgreSQL "
             "database of a URI postgresql://USER@HOST/DB?... (its tables are made on first use)",
     .needs = "a file name"},
    {.name = "--connect", .help = "(window) load the reports at once, as Connect does"},
    {.name = "--help", .help = "show this help", .shortName = "-h"},
    {.name = "--version", .help = "show the version"},
};
// What a command accepts besides its own options: --db.
constexpr CliOptionList kAfterCommandOptions(kProgramOptions, 1);

}  // namespace

const std::vector<CliCommand>& CliCommands() {
  static const std::vector<CliCommand> commands = {
      kSettingsCommand, kClearCommand,  kImportCommand,  kDownloadCommand, kResolveCommand, kWhoisCommand,
      kReportCommand,   kExportCommand, kDetailsCommand, kVisitorCommand,  kChartCommand,
  };
  return commands;
}

void PrintCommandHelp(std::ostream& out, const CliCommand& command) {
  command.helpBefore(out);
  std::vector<CliOptionGroup> groups;
  if (!command.options.empty()) groups.push_back({"Options:", command.options});
  groups.insert(groups.end(), command.moreOptions.begin(), command.moreOptions.end());
  PrintOptionGroups(out, groups);
  if (command.helpAfter) {
    out << '\n';
    command.helpAfter(out);
  }
}

void PrintProgramHelp(std::ostream& out) {
  out << "Usage: weavil [--db FILE] [COMMAND [ARGS...]]\n"
         "\n"
         "Weavil analyses web-server access logs: it imports W3C extended and\n"
         "common/combined logs into a database of visitor sessions and reports on them.\n"
         "Started without a command it opens its window.\n";
  PrintOptionGroups(out, {{"Global options:", kProgramOptions}});
  out << "\nCommands:\n";
  for (const CliCommand& command : CliCommands()) {
    std::string name = command.name;
    name.resize(std::max<size_t>(name.size() + 2, 12), ' ');
    out << "  " << name << command.summary << '\n';
  }
  out << "\n'weavil COMMAND --help' tells more about a command.\n"
         "\n"
         "Files:\n"
         "  ~/.config/Vyr/Weavil/1.4/Weavil.ini       the settings ($XDG_CONFIG_HOME)\n"
         "  ~/.config/Vyr/Weavil/1.4/datasources.ini  the data source \"Log\": its database\n"
         "  db/log.db beside the program              that database, run from a build folder\n"
         "  ~/.local/share/Vyr/Weavil/log.db          that database, installed ($XDG_DATA_HOME)\n"
         "  ~/.local/share/Vyr/Weavil/log/            downloaded logs, installed\n"
         "  ~/.local/share/Vyr/components.ini         the chart component registry\n"
         "  RovanTrace.txt                            the trace, in the current folder\n";
}

int CliFail(CliContext& context, const std::string& message) {
  *context.err << "weavil: " << message << '\n';
  return kExitFailure;
}

int CliUsage(CliContext& context, const std::string& message, const char* command) {
  *context.err << "weavil: " << message << '\n';
  if (command) *context.err << "Try 'weavil " << command << " --help'.\n";
  return kExitUsage;
}

bool WantsHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

bool OpenCliDatabase(CliContext& context, DbSession& session) {
  std::string error;
  if (Succeeded(OpenSourceSession(session, &error))) return true;
  CliFail(context, "cannot open " + error);
  return false;
}

namespace {

// A command and its words, read before anything else happens.
struct CommandLine {
  CliArgs globals;  // the options before the command
  const CliCommand* command = nullptr;
  CliArgs args;  // the command's words
};

// Reads the words of argv into line. Nothing when the command (or the window) is to
// run, else the exit code after the help, the version or a usage error.
std::optional<int> ReadCommandLine(CliContext& context, const std::vector<std::string>& words, CommandLine& line) {
  long at = ReadCliWords(context, {kProgramOptions}, words, 0, CliArguments::kStopAtFirst, line.globals, nullptr);
  if (at < 0) return kExitUsage;
  for (const CliWord& word : line.globals.Words()) {
    if (word.option->name == std::string_view("--help")) {
      PrintProgramHelp(*context.out);
      return kExitOk;
    }
    if (word.option->name == std::string_view("--version")) {
      *context.out << "Weavil 1.4\n";
      return kExitOk;
    }
  }
  if (static_cast<size_t>(at) >= words.size()) return std::nullopt;
  const std::string& name = words[static_cast<size_t>(at)];
  auto found = std::find_if(CliCommands().begin(), CliCommands().end(),
                            [&](const CliCommand& command) { return name == command.name; });
  if (found == CliCommands().end()) {
    *context.err << "weavil: unknown command " << name << '\n';
    *context.err << "Try 'weavil --help'.\n";
    return kExitUsage;
  }
  line.command = &*found;
  if (WantsHelp({words.begin() + at + 1, words.end()})) {
    PrintCommandHelp(*context.out, *found);
    return kExitOk;
  }
  std::vector<CliOptionList> options = {found->options, kAfterCommandOptions};
  for (const CliOptionGroup& group : found->moreOptions) options.push_back(group.options);
  if (ReadCliWords(context, options, words, static_cast<size_t>(at) + 1, found->arguments, line.args, found->name) < 0)
    return kExitUsage;
  return std::nullopt;
}

// Loads the settings and makes the data source (or the --db file) ready.
int PrepareDatabase(CliContext& context, const CliCommand* command) {
  LoadAppSettings(context.programDir);
  SetDatabaseBusySeconds(CopySettings().busySeconds);
  if (context.dbPath.empty()) {
    EnsureDataSource(context.programDir);
    return kExitOk;
  }
  if (pg::IsServerUri(context.dbPath)) {
    LogDataSource::UseDatabaseFile(context.dbPath);
    return kExitOk;
  }
  std::error_code ec;
  if (command && command->readsOnly && !std::filesystem::exists(context.dbPath, ec))
    return CliFail(context, "no database " + context.dbPath + " (give an existing file, or import a log into it)");
  std::string error;
  if (!CreateDatabaseFromTemplate(TemplateDatabasePath(context.programDir), context.dbPath, error))
    return CliFail(context, error);
  LogDataSource::UseDatabaseFile(context.dbPath);
  return kExitOk;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CliContext context{ProgramDir(), {}, &out, &err};
  CommandLine line;
  if (std::optional<int> done = ReadCommandLine(context, std::vector<std::string>(argv + 1, argv + argc), line))
    return *done;
  // --db before the command or among its words; the last one counts.
  for (const CliArgs* args : {&line.globals, &line.args})
    if (const std::string* path = args->Last("--db")) context.dbPath = *path;

  // Settings come before anything else the command does.
  int code = PrepareDatabase(context, line.command);
  if (code != kExitOk) return code;
  if (!line.command) return kExitOpenWindow;

  TakeDatabaseDamage();  // only what the command itself meets counts
  code = line.command->run(context, line.args);
  // What a command read from a damaged database is not to be trusted, whatever it printed.
  std::string damage = TakeDatabaseDamage();
  if (!damage.empty()) code = CliFail(context, "the database is damaged: " + damage);
  if (code == kExitOk && context.saveSettings && !SaveAppSettings())
    return CliFail(context, "cannot write the settings to " + DefaultSettingsFile());
  return code;
}

}  // namespace weavil
