#pragma once
// The batch commands of `weavil`: global options, dispatch, and helpers the commands share.
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace weavil {

class DbSession;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// RunCli's answer when no command was given: the caller opens the window.
constexpr int kExitOpenWindow = -1;

struct CliContext {
  std::string programDir;  // folder of the program file, with a trailing "/"
  std::string dbPath;      // --db FILE, empty for the data source "Log"
  std::ostream* out;
  std::ostream* err;
  bool saveSettings = false;  // a command changed the settings record: write it at exit
};

struct CliCommand {
  const char* name = "";
  const char* summary = "";
  // The command's --help: helpBefore prints the usage and the description, the options
  // follow under "Options:", then the further groups, then (after an empty line) what
  // helpAfter prints, when there is one.
  void (*helpBefore)(std::ostream& out) = nullptr;
  CliOptionList options = {};
  CliOptionGroups moreOptions = {};
  void (*helpAfter)(std::ostream& out) = nullptr;
  // args: the words after the command name, read by the options. Returns an exit code.
  int (*run)(CliContext& context, const CliArgs& args) = nullptr;
  CliArguments arguments = CliArguments::kPlain;
  // Only reads: a --db file that does not exist is a mistyped name, not a new database.
  bool readsOnly = false;
};

// The commands, each declared in its cmd_*.cpp.
extern const CliCommand kSettingsCommand, kClearCommand, kImportCommand, kDownloadCommand, kResolveCommand,
    kWhoisCommand, kReportCommand, kExportCommand, kDetailsCommand, kVisitorCommand, kChartCommand;

// Every command, in the order `weavil --help` lists them.
const std::vector<CliCommand>& CliCommands();

// A command's own --help text.
void PrintCommandHelp(std::ostream& out, const CliCommand& command);

// The text of `weavil --help` (the manual page is made from it and the commands' own).
void PrintProgramHelp(std::ostream& out);

// Parses the global options, loads the settings, prepares the database and runs the
// command. Returns an exit code, or kExitOpenWindow when no command was given.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// Opens a database session on the data source (or the --db file); prints one line and
// returns false when it cannot.
bool OpenCliDatabase(CliContext& context, DbSession& session);

// Prints "weavil: message" on stderr and returns kExitFailure / kExitUsage.
int CliFail(CliContext& context, const std::string& message);
int CliUsage(CliContext& context, const std::string& message, const char* command);

// True when args holds --help or -h.
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace weavil
